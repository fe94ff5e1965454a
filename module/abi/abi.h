// Calling convention and export attribute shared by every host record.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define ORVIT_CALL __cdecl
#else
#define ORVIT_CALL
#endif

#if defined(_WIN32)
#define ORVIT_EXPORT __declspec(dllexport)
#else
#define ORVIT_EXPORT __attribute__((visibility("default")))
#endif

// Layout checks apply where the host's records really live: 32-bit pointers.
#if UINTPTR_MAX == 0xFFFFFFFFu
#define ORVIT_PTR32 1
#else
#define ORVIT_PTR32 0
#endif

#include <cstddef>

// Layout checks in every build (64-bit too): a record whose field order a host
// relies on lists its fields with the bytes each takes, and the check holds
// only when each field starts where the one before it ends (rounded up to the
// field's alignment inside a record). A field moved, dropped, inserted in
// between or given another width fails the build. Compile-time only: no code.
namespace orvit_layout {

struct Field {
    size_t offset;
    size_t size;
    size_t align; // inside a record, which on System V i386 is 4 for a double
    size_t bytes; // what the record's description gives it
};

template <typename T> struct AlignProbe {
    char before;
    T probed;
};

constexpr size_t kPointer = sizeof(void*);

template <size_t N> constexpr bool inOrder(const Field (&fields)[N]) {
    size_t end = 0;
    for (size_t i = 0; i < N; ++i) {
        const size_t start = (end + fields[i].align - 1) / fields[i].align * fields[i].align;
        if (fields[i].offset != start || fields[i].size != fields[i].bytes)
            return false;
        end = start + fields[i].size;
    }
    return true;
}

} // namespace orvit_layout

// One listed field: the record, the field (a nested one as `outer.inner`), and
// the bytes it takes (orvit_layout::kPointer for a pointer).
#define ORVIT_FIELD(Record, member_, bytes)                                                        \
    orvit_layout::Field {                                                                          \
        offsetof(Record, member_), sizeof(static_cast<Record*>(nullptr)->member_),                 \
            offsetof(orvit_layout::AlignProbe<decltype(static_cast<Record*>(nullptr)->member_)>,   \
                     probed),                                                                      \
            bytes                                                                                  \
    }
// A field that holds a pointer (data or function).
#define ORVIT_POINTER(Record, member_) ORVIT_FIELD(Record, member_, orvit_layout::kPointer)

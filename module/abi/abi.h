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

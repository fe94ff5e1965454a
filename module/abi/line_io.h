// The host's line writer and reader for scene save and load.
#pragma once

#include "abi.h"

#include <cstddef>
#include <cstdint>

extern "C" {

struct SaveState {
    void* reserved; // not read by the module
    void* data;     // passed back to writeLine
    // Writes `length` characters of `text` as one line; the text carries no
    // line terminator. Called on the thread that saves the scene.
    void(ORVIT_CALL* writeLine)(void* data, const char* text, int32_t length);
};

struct LoadState {
    void* reserved; // not read by the module
    void* data;     // passed back to readLine
    // Puts the next line into `buffer` (room for maxLength + 1 bytes) as a
    // NUL-terminated string of at most `maxLength` characters; returns -1 when
    // no line is left. Called on the thread that loads the scene.
    int32_t(ORVIT_CALL* readLine)(void* data, char* buffer, int32_t maxLength);
};

} // extern "C"

#if ORVIT_PTR32
static_assert(sizeof(SaveState) == 12 && offsetof(SaveState, writeLine) == 8, "SaveState");
static_assert(sizeof(LoadState) == 12 && offsetof(LoadState, readLine) == 8, "LoadState");
#endif

// Field order, in every build.
static_assert(orvit_layout::inOrder({ORVIT_POINTER(SaveState, reserved),
                                     ORVIT_POINTER(SaveState, data),
                                     ORVIT_POINTER(SaveState, writeLine)}),
              "SaveState: reserved, data, writeLine");
static_assert(orvit_layout::inOrder({ORVIT_POINTER(LoadState, reserved),
                                     ORVIT_POINTER(LoadState, data),
                                     ORVIT_POINTER(LoadState, readLine)}),
              "LoadState: reserved, data, readLine");

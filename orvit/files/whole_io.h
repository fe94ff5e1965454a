// Reading and writing whole buffers through a file descriptor.
#pragma once

#include <cstddef>

namespace orvit::files {

// Writes all `size` bytes, again after a signal interrupts a write. False
// when a write fails, with errno set (ENOSPC where nothing more would go).
bool writeWhole(int fd, const void* data, size_t size);

// Reads exactly `size` bytes, again after a signal interrupts a read. False
// at the end of the file or pipe (errno 0) or when a read fails.
bool readWhole(int fd, void* data, size_t size);

} // namespace orvit::files

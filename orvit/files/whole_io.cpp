#include "orvit/files/whole_io.h"

#include <cerrno>
#include <unistd.h>

namespace orvit::files {
namespace {

// One loop for both directions: `step` is read or write.
template <typename Byte, typename Step>
bool whole(int fd, Byte* p, size_t size, int endError, Step step) {
    while (size > 0) {
        const ssize_t n = step(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = endError;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool writeWhole(int fd, const void* data, size_t size) {
    return whole(fd, static_cast<const char*>(data), size, ENOSPC,
                 [](int f, const char* p, size_t n) { return write(f, p, n); });
}

bool readWhole(int fd, void* data, size_t size) {
    return whole(fd, static_cast<char*>(data), size, 0,
                 [](int f, char* p, size_t n) { return read(f, p, n); });
}

} // namespace orvit::files

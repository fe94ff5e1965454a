#include "orvit/files/owned_fd.h"

#include <fcntl.h>
#include <unistd.h>

namespace orvit::files {

bool OwnedFd::close() {
    const int fd = release();
    return fd < 0 || ::close(fd) == 0;
}

bool makePipe(Pipe* made) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return false;
    made->read = OwnedFd(ends[0]);
    made->write = OwnedFd(ends[1]);
    return true;
}

} // namespace orvit::files

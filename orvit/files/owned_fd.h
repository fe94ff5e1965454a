// A file descriptor with one owner, which closes it on every way out of the
// code that opened it, a thrown error included.
#pragma once

#include <utility>

namespace orvit::files {

class OwnedFd {
  public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : fd_(fd) {}
    ~OwnedFd() { close(); }
    OwnedFd(OwnedFd&& other) noexcept : fd_(other.release()) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept {
        if (this != &other) {
            close();
            fd_ = other.release();
        }
        return *this;
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;

    // -1 when there is none.
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes it now, and owns none after; false, with errno set, when the
    // close fails (a writer's last error may come only here). True when
    // there was none.
    bool close();

  private:
    int release() { return std::exchange(fd_, -1); }

    int fd_ = -1;
};

// The two ends of a pipe, close-on-exec.
struct Pipe {
    OwnedFd read;
    OwnedFd write;
};
// False, with errno set, when no pipe can be made.
bool makePipe(Pipe* made);

} // namespace orvit::files

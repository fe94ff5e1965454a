// A file held in memory that a fuzz target rewrites with each input, named by
// a path that any file API opens: "/proc/self/fd/N" of a memfd. Writing it
// costs no disk, so executions stay fast as inputs grow.
#pragma once

#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace fuzzing {

class MemoryFile {
  public:
    explicit MemoryFile(const char* name) : fd_(memfd_create(name, MFD_CLOEXEC)) {
        if (fd_ < 0)
            std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Makes the file hold exactly `size` bytes of `data`.
    void assign(const uint8_t* data, size_t size) {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0)
                std::abort();
            done += static_cast<size_t>(n);
        }
        if (ftruncate(fd_, static_cast<off_t>(size)) != 0)
            std::abort();
    }

    const std::string& path() const { return path_; }

  private:
    int fd_;
    std::string path_;
};

} // namespace fuzzing

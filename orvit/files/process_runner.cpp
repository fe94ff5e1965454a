#include "orvit/files/process_runner.h"

#include "orvit/core/host_error.h"
#include "orvit/files/owned_fd.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace orvit::files {

std::string findOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const fs::path candidate = fs::path(folder.empty() ? "." : folder) / program;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

ProgramResult runProgram(const std::vector<std::string>& args) {
    const std::string& name = args.front();
    auto fail = [&](const char* step) -> ProgramResult {
        throw core::AppError("cannot run '" + name + "': " + step + ": " + std::strerror(errno));
    };
    Pipe out, err;
    if (!makePipe(&out) || !makePipe(&err))
        return fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, err.write.get(), 2);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, name.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    // The child's ends are the child's alone: its outputs end when it does.
    out.write.close();
    err.write.close();
    if (spawned != 0) {
        errno = spawned;
        return fail("start");
    }

    ProgramResult result;
    OwnedFd* const ends[2] = {&out.read, &err.read};
    std::string* sinks[2] = {&result.out, &result.err};
    char buffer[4096];
    while (*ends[0] || *ends[1]) {
        pollfd fds[2] = {{ends[0]->get(), POLLIN, 0}, {ends[1]->get(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0)
                sinks[i]->append(buffer, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                ends[i]->close();
        }
    }
    // Closed before the wait: a child still writing then ends on SIGPIPE.
    out.read.close();
    err.read.close();
    const int status = waitForChild(pid);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

int waitForChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return 0;
    }
    return status;
}

} // namespace orvit::files

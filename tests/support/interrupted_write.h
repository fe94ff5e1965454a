// A settings file written atomically by a forked child that an ending signal
// stops half-way: what such a signal leaves behind is what the tests check.
#pragma once

#include "orvit/files/atomic_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

// Writes "half" to `path`'s temporary file, then raises `signal`.
inline void writeHalfThenRaise(const std::string& path, int signal) {
    orvit::files::writeAtomically(path, "settings", [&](const std::string& temporary) {
        std::ofstream(temporary) << "half";
        raise(signal);
    });
}

// Runs `body` in a forked child and expects the child to end by `signal`.
inline void expectEndsBySignal(int signal, const std::function<void()>& body) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal);
}

// The name of a file in `folder` whose name starts with `prefix`, once there
// is one; empty when none comes within `seconds`.
inline std::string awaitFileStarting(const std::filesystem::path& folder, const std::string& prefix,
                                     int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(folder, ec))
            if (e.path().filename().string().rfind(prefix, 0) == 0)
                return e.path().filename().string();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return "";
}

// Sends `signal` to process `pid` once a file whose name starts with
// `prefix` is being written in `folder` (SIGKILL when none is within
// `seconds`), and expects the process to end by that signal.
inline void signalWhileWriting(pid_t pid, const std::filesystem::path& folder,
                               const std::string& prefix, int signal, int seconds) {
    const bool seen = !awaitFileStarting(folder, prefix, seconds).empty();
    kill(pid, seen ? signal : SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(seen) << "no file " << prefix << "... was ever being written";
    ASSERT_TRUE(WIFSIGNALED(status)) << "the write ended before the signal came";
    EXPECT_EQ(WTERMSIG(status), signal);
}

} // namespace testsupport

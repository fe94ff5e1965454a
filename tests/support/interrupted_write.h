// A settings file written atomically by a forked child that an ending signal
// stops half-way: what such a signal leaves behind is what the tests check.
#pragma once

#include "orvit/files/atomic_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace apptest {

// Writes "half" to `path`'s temporary file, then raises `signal`.
inline void writeHalfThenRaise(const std::string& path, int signal) {
    orvit::app::writeAtomically(path, "settings", [&](const std::string& temporary) {
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

} // namespace apptest

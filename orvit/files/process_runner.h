// Runs another program, as orvit farm runs Slurm's commands.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace orvit::files {

// The whole path of `program` found on PATH, or empty.
std::string findOnPath(const std::string& program);

struct ProgramResult {
    int exitCode = -1; // 128 + the signal when a signal ended it
    std::string out;
    std::string err;
};

// Runs `args` (args[0] a whole path) with no input and both outputs kept.
// An AppError when it cannot start.
ProgramResult runProgram(const std::vector<std::string>& args);

// Waits for the child `pid` to end, again when a signal interrupts the wait,
// and gives its wait status (0 when it cannot be waited for).
int waitForChild(pid_t pid);

} // namespace orvit::files

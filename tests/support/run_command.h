// Runs the orvit program as a user would and keeps what it printed.
#pragma once

#include "orvit/files/shell_quote.h"
#include "tests/support/temp_folder.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace testsupport {

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::vector<std::string> errLines() const {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < err.size()) {
            const size_t end = err.find('\n', start);
            lines.push_back(err.substr(start, end - start));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        return lines;
    }
};

using orvit::files::shellQuoted;

// How often `what` stands in `text`, overlaps counted.
inline size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Runs a shell command line; `scratch` is a folder for the captured output,
// `input` the file read as standard input.
inline CommandResult runShell(const std::string& commandLine, const std::string& scratch,
                              const std::string& input = "/dev/null") {
    const std::string out = scratch + "/.stdout", err = scratch + "/.stderr";
    const std::string command = commandLine + " >" + shellQuoted(out) + " 2>" + shellQuoted(err) +
                                " <" + shellQuoted(input);
    const int status = std::system(command.c_str());
    CommandResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readAll(out);
    r.err = readAll(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

inline std::string orvitCommand(const std::vector<std::string>& args) {
    std::string command = shellQuoted(ORVIT_PROGRAM);
    for (const std::string& a : args)
        command += " " + shellQuoted(a);
    return command;
}

// `scratch` is a folder for the captured output; `input` the file read as
// standard input.
inline CommandResult runOrvit(const std::vector<std::string>& args, const std::string& scratch,
                              const std::string& input = "/dev/null") {
    return runShell(orvitCommand(args), scratch, input);
}

// With `environment` put before the command, as in "PATH=/some/folder".
inline CommandResult runOrvitWith(const std::string& environment,
                                  const std::vector<std::string>& args,
                                  const std::string& scratch) {
    return runShell(environment + " " + orvitCommand(args), scratch);
}

} // namespace testsupport

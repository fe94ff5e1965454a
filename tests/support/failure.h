// The one line a step of the program fails with, for tests of its errors.
#pragma once

#include "orvit/core/host_error.h"

#include <string>

namespace testsupport {

// Runs `step`: the message of the error it throws, or "(no failure)".
template <typename Step> std::string failure(Step step) {
    try {
        step();
    } catch (const orvit::core::HostError& e) {
        return e.what();
    }
    return "(no failure)";
}

} // namespace testsupport

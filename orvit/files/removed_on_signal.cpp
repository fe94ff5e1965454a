#include "orvit/files/removed_on_signal.h"

#include <csignal>
#include <cstring>
#include <iterator>
#include <unistd.h>

namespace orvit::files {
namespace {

// The paths, for the signal handler: plain buffers and flags, which a
// handler may read.
constexpr int kSlots = 16;
char gPaths[kSlots][4096];
volatile std::sig_atomic_t gUsed[kSlots] = {};
int gRegistered = 0;

constexpr size_t kEndingSignalCount = std::size(kEndingSignals);
struct sigaction gPrevious[kEndingSignalCount];
bool gInstalled[kEndingSignalCount] = {};

extern "C" void removeOnSignal(int signal) {
    // Files first, then the folders they were in.
    for (int i = 0; i < kSlots; ++i)
        if (gUsed[i])
            unlink(gPaths[i]);
    for (int i = 0; i < kSlots; ++i)
        if (gUsed[i])
            rmdir(gPaths[i]);
    for (size_t i = 0; i < kEndingSignalCount; ++i)
        if (kEndingSignals[i] == signal)
            sigaction(signal, &gPrevious[i], nullptr);
    raise(signal);
}

} // namespace

RemovedOnSignal::RemovedOnSignal(const std::string& path) {
    if (path.size() >= sizeof gPaths[0])
        return;
    for (int i = 0; i < kSlots && slot_ < 0; ++i)
        if (!gUsed[i])
            slot_ = i;
    if (slot_ < 0)
        return;
    std::memcpy(gPaths[slot_], path.c_str(), path.size() + 1);
    gUsed[slot_] = 1;
    if (gRegistered++ > 0)
        return;
    struct sigaction action {};
    action.sa_handler = removeOnSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kEndingSignalCount; ++i) {
        sigaction(kEndingSignals[i], nullptr, &gPrevious[i]);
        gInstalled[i] = gPrevious[i].sa_handler == SIG_DFL &&
                        !(gPrevious[i].sa_flags & SA_SIGINFO) &&
                        sigaction(kEndingSignals[i], &action, nullptr) == 0;
    }
}

RemovedOnSignal::~RemovedOnSignal() {
    if (slot_ < 0)
        return;
    gUsed[slot_] = 0;
    if (--gRegistered > 0)
        return;
    for (size_t i = 0; i < kEndingSignalCount; ++i)
        if (gInstalled[i])
            sigaction(kEndingSignals[i], &gPrevious[i], nullptr);
}

} // namespace orvit::files

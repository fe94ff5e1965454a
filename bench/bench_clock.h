// Timing for the benchmarks: the thread's processor time, and the least of
// several runs.
#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

namespace bench {

// The thread's processor time in milliseconds: on a shared machine it leaves
// out the time the thread waits for a core.
inline double now() {
#ifdef CLOCK_THREAD_CPUTIME_ID
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
#else
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

// The least of `repeats` runs (at least one): the machine is shared, and the
// least time is the one least disturbed.
template <typename Run> double fastest(int repeats, Run run) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const double t0 = now();
        run();
        times.push_back(now() - t0);
    }
    return *std::min_element(times.begin(), times.end());
}

} // namespace bench

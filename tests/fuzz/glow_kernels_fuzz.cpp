// The glow kernels, with every fill, against the literal reference on a run
// built from the fuzzer's bytes: frame size and shapes, depths, mode, radius
// or glow size, envelope, camera and colour keys (see filter/glow_cases.h).
// Each choice takes as many bytes as its range needs; missing bytes read as
// 0. Any difference in any of the four layer planes aborts with the first
// one found.
//
// Seeds (corpus/glow_kernels_fuzz/):
//   fixed-block.bin       one block, Fixed mode, a middling radius
//   close-keys.bin        several shapes and keys at close positions
//   depth-noise.bin       Depth mode over noisy depths
#include "tests/module/filter/glow_cases.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    auto next = [&](uint64_t n) -> uint64_t {
        if (n <= 1)
            return 0;
        uint64_t value = 0;
        for (uint64_t span = 1; span < n; span *= 256) {
            value = value * 256 + (at < size ? data[at] : 0);
            ++at;
        }
        return value % n;
    };
    const glowcases::Case c = glowcases::makeCase(next);
    const std::string failure = glowcases::compareCase(c);
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        std::abort();
    }
    return 0;
}

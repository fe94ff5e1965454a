// The object scan fuzz target's seed corpus comes from the object writer. This
// test checks that the committed seeds are what the writer makes now; run it
// with ORVIT_WRITE_SEEDS=1 in the environment to rewrite them.
#include "orvit/host/object_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using orvit::host::ObjectChunk;
using orvit::host::ObjectDescription;
using orvit::host::ObjectSurface;
using orvit::host::writeObjectFile;
using Bytes = std::vector<uint8_t>;

ObjectSurface surface(const std::string& name, std::array<uint8_t, 4> buffers) {
    ObjectSurface s;
    s.name = name;
    s.buffers = buffers;
    return s;
}

// Overwrites the length of the first chunk tagged `tag` after the header.
Bytes withChunkLength(Bytes bytes, const char* tag, uint32_t length) {
    const auto at = std::search(bytes.begin() + 12, bytes.end(), tag, tag + 4);
    EXPECT_NE(at, bytes.end()) << tag;
    for (int i = 0; i < 4; ++i)
        at[4 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    return bytes;
}

std::vector<std::pair<std::string, Bytes>> seeds() {
    ObjectDescription scene;
    scene.chunksBefore = {{"PNTS", Bytes(24, 0)}, {"SRFS", {'H', 'u', 'l', 'l', 0, 0}}};
    ObjectSurface hull = surface("Hull", {1, 0, 0, 0});
    hull.extraBefore = {{"COLR", {200, 200, 210, 0}}, {"FLAG", {0, 4}}};
    ObjectSurface glass = surface("Glass", {2, 9, 0, 0});
    glass.extraAfter = {{"TRAN", {0, 0}}};
    ObjectSurface engine = surface("Engine", {0, 0, 0, 255});
    scene.surfaces = {hull, glass, engine};
    scene.chunksAfter = {{"POLS", {0, 4, 0, 0, 0, 1, 0, 2, 0, 3, 0, 1}}};

    ObjectDescription odd;
    odd.chunksBefore = {{"PNTS", {1, 2, 3}}};
    ObjectSurface oddSurface = surface("Odd", {3, 0, 0, 0});
    oddSurface.extraBefore = {{"COLR", {1, 2, 3}}};
    oddSurface.extraAfter = {{"SMAN", {1}}};
    odd.surfaces = {oddSurface, surface("Even", {0, 4, 0, 0})};

    ObjectDescription repeated;
    ObjectSurface twice = surface("Twice", {5, 0, 0, 0});
    twice.extraAfter = {{"SPBF", {6, 0, 0, 0, 7, 7}}, {"SPBF", {0, 0, 0, 0}}};
    ObjectSurface none = surface("None", {0, 0, 0, 0});
    none.writeBuffers = false;
    repeated.surfaces = {twice, none, surface("\xe9t\xe9", {8, 0, 0, 0}),
                         surface("", {9, 0, 0, 0})};

    ObjectDescription other = scene;
    other.formType = "LWO2";

    const Bytes full = writeObjectFile(scene);
    ObjectDescription shortBuffers;
    ObjectSurface shortSurface = surface("Short", {});
    shortSurface.writeBuffers = false;
    shortSurface.extraBefore = {{"SPBF", {1, 2}}, {"SPBF", {3, 4, 0, 0}}};
    shortBuffers.surfaces = {shortSurface, surface("Good", {1, 0, 0, 0})};

    return {
        {"scene.lwo", full},
        {"odd-lengths.lwo", writeObjectFile(odd)},
        {"repeated.lwo", writeObjectFile(repeated)},
        {"form-lwo2.lwo", writeObjectFile(other)},
        {"cut-short.lwo", Bytes(full.begin(), full.begin() + 70)},
        {"negative-length.lwo", withChunkLength(full, "SRFS", 0xFFFFFFF0u)},
        {"surf-huge-length.lwo", withChunkLength(full, "SURF", 0x7FFFFFFFu)},
        {"buffers-cut-short.lwo", writeObjectFile(shortBuffers)},
    };
}

TEST(ObjectScanSeeds, CommittedSeedsAreTheWritersOutput) {
    const fs::path corpus = fs::path(ORVIT_TESTS_DIR) / "fuzz" / "corpus" / "object_scan_fuzz";
    const char* rewrite = std::getenv("ORVIT_WRITE_SEEDS");
    for (const auto& [name, bytes] : seeds()) {
        const fs::path path = corpus / name;
        if (rewrite != nullptr && std::string(rewrite) == "1") {
            ASSERT_TRUE(orvit::host::saveObjectFile(path.string(), bytes)) << path;
        }
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << path << " is missing; rerun with ORVIT_WRITE_SEEDS=1";
        const Bytes committed{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(committed, bytes) << path << " differs from the writer's output";
    }
}

} // namespace

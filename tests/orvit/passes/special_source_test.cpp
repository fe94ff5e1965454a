// Where a frame's special pass comes from: one row per rule, each through
// small files written as renderers write them, their headers read back.
#include "orvit/core/host_error.h"
#include "orvit/passes/special_source.h"
#include "tests/support/failure.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace orvit::passes;

namespace {

using Names = std::vector<std::string>;

// `channels`, one float sample each, and the Cryptomatte `layers`, each with
// its rank-0 channels and declared by metadata under a key of its own
// (cryptomatte/0/, ...); `metadata` replaces or adds keys.
void writeFile(const std::string& path, const Names& channels, const Names& layers = {},
               std::vector<std::pair<std::string, std::string>> metadata = {}) {
    std::vector<testsupport::Channel> written;
    for (const std::string& name : channels)
        written.push_back({name, OIIO::TypeDesc::FLOAT, {1}});
    for (size_t i = 0; i < layers.size(); ++i) {
        for (const char* letter : {"R", "G", "B", "A"})
            written.push_back({layers[i] + "00." + letter, OIIO::TypeDesc::FLOAT, {0}});
        const std::string key = "cryptomatte/" + std::to_string(i) + "/";
        for (const auto& [field, value] : {std::pair<std::string, std::string>{"name", layers[i]},
                                           {"hash", "MurmurHash3_32"},
                                           {"conversion", "uint32_to_float32"}})
            if (std::none_of(metadata.begin(), metadata.end(),
                             [&](const auto& m) { return m.first == key + field; }))
                metadata.push_back({key + field, value});
    }
    testsupport::writeChannels(path, 1, 1, written, {}, metadata);
}

TEST(FindSpecialSource, FollowsItsRulesInOneFileAndAcrossSeveral) {
    testsupport::TempFolder dir;
    const std::string object = "ViewLayer.CryptoObject", material = "ViewLayer.CryptoMaterial";
    writeFile(dir / "beauty.exr", {"R", "G", "B", "A", "Z"});
    writeFile(dir / "indexed.exr", {"R", "G", "B", "ViewLayer.IndexOB.X", "Z"});
    writeFile(dir / "id.exr", {"object_id"});
    writeFile(dir / "two-ids.exr", {"IndexOB", "object_id"});
    writeFile(dir / "crypto.exr", {}, {object});
    writeFile(dir / "colour-crypto.exr", {"R", "G", "B", "Z"}, {object});
    writeFile(dir / "wildcard.exr", {}, {"uCryptoWildcard"});
    writeFile(dir / "material.exr", {}, {material});
    writeFile(dir / "both.exr", {}, {material, object});
    writeFile(dir / "two-objects.exr", {}, {"A.CryptoObject", "B.crypto_object"});
    writeFile(dir / "index-crypto.exr", {"object_id"}, {object});
    writeFile(dir / "md5.exr", {}, {object}, {{"cryptomatte/0/hash", "MD5"}});
    // A Cryptomatte's channels whose metadata a tool dropped.
    writeFile(dir / "lost.exr", {"R", "G", "B", object + "00.R", object + "00.G"});
    testsupport::writeChannels(dir / "grey.png", 1, 1, {{"Y", OIIO::TypeDesc::UINT8, {1}}});
    const std::string palette = std::string(ORVIT_TEST_DATA) + "/passes/special-palette.png";
    struct Request {
        Names files;
        std::string channel = {}, cryptomatte = {}; // named
        Names otherPasses = {};
    };
    const auto find = [&](const Request& r) {
        std::vector<PassFile> files;
        for (const std::string& name : r.files)
            files.push_back({name, readPassHeader("frame 1", name == palette ? name : dir / name)});
        return findSpecialSource(files, {r.channel, r.cryptomatte, r.otherPasses,
                                         "--special-channel NAME", "--cryptomatte NAME"});
    };
    const struct {
        const char* rule;
        Request request;
        int file;
        std::string channel, layer = {};
        Names otherLayers = {};
        bool indices = false;
    } found[] = {
        {"an index pass in the colour file", {{"indexed.exr"}}, 0, "ViewLayer.IndexOB.X"},
        {"an index pass in a file of its own", {{"beauty.exr", "id.exr"}}, 1, "object_id"},
        {"a palette's indices", {{palette}}, 0, "", "", {}, true},
        {"one file's only channel", {{"grey.png"}}, 0, "Y"},
        {"a Cryptomatte object layer", {{"beauty.exr", "crypto.exr"}}, 1, "", object},
        {"one other layer alone", {{"wildcard.exr"}}, 0, "", "uCryptoWildcard"},
        {"the object layer among several", {{"both.exr"}}, 0, "", object, {material}},
        {"the file with an object layer first", {{"material.exr", "crypto.exr"}}, 1, "", object},
        {"an index channel before a Cryptomatte", {{"index-crypto.exr"}}, 0, "object_id"},
        {"... in another file", {{"crypto.exr", "id.exr"}}, 1, "object_id"},
        {"a channel named", {{"beauty.exr", "two-ids.exr"}, "IndexOB"}, 1, "IndexOB"},
        {"a layer named", {{"both.exr"}, "", material}, 0, "", material, {object}},
        {"a layer named, in one file of several",
         {{"crypto.exr", "material.exr"}, "", material},
         1,
         "",
         material},
        {"a layer named before an index", {{"index-crypto.exr"}, "", object}, 0, "", object},
        {"no channel another pass takes", {{"two-ids.exr"}, "", "", {"IndexOB"}}, 0, "object_id"},
    };
    for (const auto& row : found) {
        SCOPED_TRACE(row.rule);
        SpecialSource source;
        EXPECT_EQ(testsupport::failure([&] { source = find(row.request); }), "(no failure)");
        EXPECT_EQ(source.file, row.file);
        EXPECT_EQ(source.channel, row.channel);
        EXPECT_EQ(source.cryptomatte, row.layer);
        EXPECT_EQ(source.otherLayers, row.otherLayers);
        EXPECT_EQ(source.indices, row.indices);
    }
    const struct {
        Request request;
        std::string error;
    } refused[] = {
        {{{"beauty.exr"}},
         "beauty.exr: no channel is recognised as an object index (the file has R, G, B, A, Z); "
         "pick with --special-channel NAME"},
        {{{"beauty.exr", "grey.png"}},
         "no file has a channel recognised as an object index (beauty.exr has R, G, B, A, Z; "
         "grey.png has Y); pick with --special-channel NAME"},
        {{{"indexed.exr"}, "", "", {"ViewLayer.IndexOB.X"}},
         "indexed.exr: no channel is recognised as an object index (the file has R, G, B, Z, "
         "ViewLayer.IndexOB.X); pick with --special-channel NAME"},
        {{{"two-ids.exr"}},
         "two-ids.exr: 2 could be an object index: IndexOB or object_id (the file has IndexOB, "
         "object_id); pick with --special-channel NAME"},
        {{{"id.exr", "indexed.exr"}},
         "special pass: both id.exr (object_id) and indexed.exr (ViewLayer.IndexOB.X) offer it; "
         "leave one file out, or pick with --special-channel NAME"},
        {{{"two-objects.exr"}},
         "two-objects.exr: 2 Cryptomatte object layers could be the special pass "
         "('A.CryptoObject', 'B.crypto_object'); pick with --cryptomatte NAME"},
        {{{"crypto.exr", "colour-crypto.exr"}},
         "special pass: both crypto.exr and colour-crypto.exr declare a Cryptomatte object layer; "
         "leave one file out, or pick with --cryptomatte NAME"},
        {{{"wildcard.exr", "material.exr"}},
         "special pass: both wildcard.exr and material.exr declare a Cryptomatte; leave one file "
         "out, or pick with --cryptomatte NAME"},
        {{{"beauty.exr"}, "id"}, "beauty.exr: no channel 'id' (the file has R, G, B, A, Z)"},
        {{{"beauty.exr", "grey.png"}, "id"},
         "no file has the channel 'id' of the special pass (beauty.exr has R, G, B, A, Z; "
         "grey.png has Y)"},
        {{{"id.exr", "index-crypto.exr"}, "object_id"},
         "special pass: both id.exr (object_id) and index-crypto.exr (object_id) offer it; leave "
         "one file out"},
        {{{"crypto.exr"}, "", material},
         "crypto.exr: no Cryptomatte 'ViewLayer.CryptoMaterial' (the file has "
         "'ViewLayer.CryptoObject')"},
        {{{"beauty.exr", "crypto.exr"}, "", material},
         "no file declares the Cryptomatte 'ViewLayer.CryptoMaterial' (beauty.exr declares none; "
         "crypto.exr has 'ViewLayer.CryptoObject')"},
        {{{"crypto.exr", "both.exr"}, "", object},
         "special pass: both crypto.exr and both.exr declare the Cryptomatte "
         "'ViewLayer.CryptoObject'; leave one file out"},
        {{{"index-crypto.exr"}, "object_id", object},
         "--special-channel NAME and --cryptomatte NAME both give the special pass; give one"},
        {{{"md5.exr"}},
         "md5.exr: Cryptomatte 'ViewLayer.CryptoObject': metadata 'cryptomatte/0/hash' is 'MD5', "
         "not MurmurHash3_32"},
        {{{"beauty.exr", "lost.exr"}},
         "lost.exr: channel 'ViewLayer.CryptoObject00.R' looks like a Cryptomatte's, but no "
         "metadata cryptomatte/KEY/name declares it (lost when a frame is saved from a frame "
         "buffer or by a tool that drops the header); pick an object index with "
         "--special-channel NAME"},
    };
    for (const auto& row : refused)
        EXPECT_EQ(testsupport::failure([&] { find(row.request); }), row.error);
}

} // namespace

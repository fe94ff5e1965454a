// Cryptomatte names, layers and their manifests, checked against the published
// hash vectors and the Cryptomatte format's own examples.
#include "orvit/core/host_error.h"
#include "orvit/passes/cryptomatte.h"
#include "tests/support/cryptomatte_frames.h"
#include "tests/support/failure.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;

using namespace orvit::passes;

namespace {

TEST(MurmurHash3, GivesThePublishedVectorsForEveryTailLength) {
    const struct {
        std::string bytes;
        uint32_t seed, hash;
    } cases[] = {
        {"", 0, 0},
        {"", 1, 0x514e28b7u},
        {"", 0xffffffffu, 0x81f16f39u},
        {std::string(4, '\0'), 0, 0x2362f9deu},
        {"a", 0x9747b28cu, 0x7fa09ea6u},
        {"ab", 0x9747b28cu, 0x74875592u},
        {"abc", 0x9747b28cu, 0xc84a62ddu},
        {"aaaa", 0x9747b28cu, 0x5a97808au},
        {"Hello, world!", 0x9747b28cu, 0x24884cbau},
        {"The quick brown fox jumps over the lazy dog", 0x9747b28cu, 0x2fa826cdu},
    };
    for (const auto& c : cases)
        EXPECT_EQ(murmurHash3(c.bytes, c.seed), c.hash) << "'" << c.bytes << "' seed " << c.seed;
}

TEST(CryptomatteId, NamesHashAsTheSpecificationsExamplesAndStayNormalFloats) {
    EXPECT_EQ(cryptomatteId(testsupport::kTorus.name), testsupport::kTorus.id);
    EXPECT_EQ(cryptomatteId(testsupport::kPlain.name), testsupport::kPlain.id);
    EXPECT_EQ(cryptomatteId(testsupport::kCube.name), testsupport::kCube.id);
    EXPECT_FLOAT_EQ(static_cast<float>(testsupport::idValue(testsupport::kTorus.id)),
                    -1.54943624832e+30f);
    EXPECT_FLOAT_EQ(static_cast<float>(testsupport::idValue(testsupport::kPlain.id)),
                    -1.31926312124e-25f);
    // The exponent rule: 0 and 255 move off by bit 23; others stay; twice is once.
    const uint32_t cases[][2] = {{0x00000001u, 0x00800001u}, {0x807fffffu, 0x80ffffffu},
                                 {0x7f800000u, 0x7f000000u}, {0xffc00001u, 0xff400001u},
                                 {0x3f800000u, 0x3f800000u}, {0x00800000u, 0x00800000u}};
    for (const auto& c : cases) {
        EXPECT_EQ(storableId(c[0]), c[1]) << std::hex << c[0];
        EXPECT_EQ(storableId(storableId(c[0])), c[1]) << std::hex << c[0];
    }
}

TEST(CryptomatteLayers, FoundByMetadataWithTheirRankChannelsOrTheirProblem) {
    using Names = std::vector<std::string>;
    const Names blender = {"ViewLayer.Combined.R", "ViewLayer.CryptoObject00.R",
                           "ViewLayer.CryptoObject00.G", "ViewLayer.CryptoObject00.B",
                           "ViewLayer.CryptoObject00.A"};
    const std::map<std::string, std::string> good = {
        {"cryptomatte/542cafa/name", "ViewLayer.CryptoObject"},
        {"cryptomatte/542cafa/hash", "MurmurHash3_32"},
        {"cryptomatte/542cafa/conversion", "uint32_to_float32"},
        {"cryptomatte/542cafa/manifest", "{}"},
        {"colorSpace", "Linear"}};
    const auto with = [&](const std::string& key, const char* value) {
        auto a = good;
        if (value)
            a[key] = value;
        else
            a.erase(key);
        return a;
    };
    const struct {
        const char* what;
        std::map<std::string, std::string> attributes;
        Names channels;
        std::string problem;
    } cases[] = {
        {"Blender's", good, blender, ""},
        {"a part's prefix, lower-case letters",
         good,
         {"crypto.ViewLayer.CryptoObject00.r", "crypto.ViewLayer.CryptoObject00.g",
          "crypto.ViewLayer.CryptoObject00.b", "crypto.ViewLayer.CryptoObject00.a"},
         ""},
        {"hash missing", with("cryptomatte/542cafa/hash", nullptr), blender,
         "metadata 'cryptomatte/542cafa/hash' is missing"},
        {"another hash", with("cryptomatte/542cafa/hash", "MD5"), blender,
         "metadata 'cryptomatte/542cafa/hash' is 'MD5', not MurmurHash3_32"},
        {"another conversion", with("cryptomatte/542cafa/conversion", "none"), blender,
         "metadata 'cryptomatte/542cafa/conversion' is 'none', not uint32_to_float32"},
        {"no name", with("cryptomatte/542cafa/name", nullptr), blender,
         "metadata 'cryptomatte/542cafa/name' is missing"},
        {"a rank's coverage missing",
         good,
         {"ViewLayer.CryptoObject00.R", "ViewLayer.CryptoObject00.G", "ViewLayer.CryptoObject00.B"},
         "its rank channel 'ViewLayer.CryptoObject00.A' is missing (nor is it there spelt out, "
         "as '.alpha')"},
        {"a level missing",
         good,
         {"ViewLayer.CryptoObject00.R", "ViewLayer.CryptoObject00.G", "ViewLayer.CryptoObject00.B",
          "ViewLayer.CryptoObject00.A", "ViewLayer.CryptoObject02.R"},
         "its rank channel 'ViewLayer.CryptoObject01.R' is missing"},
        {"no channels", good, {"R"}, "'ViewLayer.CryptoObject00.R' is missing"},
        {"a compositor's spelt-out letters",
         good,
         {"ViewLayer.CryptoObject00.red", "ViewLayer.CryptoObject00.Green",
          "ViewLayer.CryptoObject00.BLUE", "ViewLayer.CryptoObject00.alpha"},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<CryptomatteLayer> layers = cryptomatteLayers(c.attributes, c.channels);
        ASSERT_EQ(layers.size(), 1u);
        if (c.problem.empty()) {
            EXPECT_EQ(layers[0].problem, "");
            EXPECT_EQ(layers[0].name, "ViewLayer.CryptoObject");
            EXPECT_EQ(layers[0].levels.size(), 1u);
            EXPECT_EQ(layers[0].levels[0][0], c.channels[c.channels.size() - 4]);
        } else {
            EXPECT_THAT(layers[0].problem, HasSubstr(c.problem));
        }
    }
    // A compositor's "exr/" prefix is read the same; written both ways, once.
    std::map<std::string, std::string> both = good;
    for (const auto& [key, value] : good)
        both["exr/" + key] = value;
    both["exr/cryptomatte/542cafa/hash"] = "other";
    ASSERT_EQ(cryptomatteLayers(both, blender).size(), 1u);
    EXPECT_EQ(cryptomatteLayers(both, blender)[0].problem, "");
    std::map<std::string, std::string> rewritten;
    for (const auto& [key, value] : good)
        rewritten["exr/" + key] = value;
    ASSERT_EQ(cryptomatteLayers(rewritten, blender).size(), 1u);
    EXPECT_EQ(cryptomatteLayers(rewritten, blender)[0].metadata, "exr/cryptomatte/542cafa/");
}

TEST(LayerNames, ASidecarManifestIsReadBesideTheImageAndNeverOutsideIt) {
    testsupport::TempFolder dir;
    dir.write("m.json", "{\"Cube\":\"a8fce865\"}");
    CryptomatteLayer layer;
    layer.name = "CryptoObject";
    layer.metadata = "cryptomatte/abc/";
    layer.manifestFile = "m.json";
    EXPECT_EQ(layerNames(layer, dir.path().string()),
              (CryptomatteNames{{"Cube", testsupport::kCube.id}}));
    for (const char* file : {"../m.json", "/etc/passwd", "missing.json"}) {
        layer.manifestFile = file;
        EXPECT_THAT(testsupport::failure([&] { layerNames(layer, dir.path().string()); }),
                    HasSubstr("metadata 'cryptomatte/abc/manif_file'"))
            << file;
    }
    // A name the module could not be given, named with its key.
    layer.manifestFile.clear();
    layer.manifest = "{\"Lamp\\u0000x\":\"a8fce865\"}";
    EXPECT_EQ(testsupport::failure([&] { layerNames(layer, dir.path().string()); }),
              "metadata 'cryptomatte/abc/manifest': object 'Lamp\\x00x' has a NUL byte in its "
              "name, which no surface name may hold");
    layer.manifest.clear();
    // A link in the folder to a file outside it leads out as ".." does.
    std::filesystem::create_directory(dir.path() / "image");
    std::filesystem::create_symlink("../m.json", dir.path() / "image/link.json");
    layer.manifestFile = "link.json";
    EXPECT_EQ(testsupport::failure([&] { layerNames(layer, dir / "image"); }),
              "metadata 'cryptomatte/abc/manif_file' 'link.json' leaves the image's folder (it is "
              "a link to '" +
                  dir / "m.json" + "')");
}

} // namespace

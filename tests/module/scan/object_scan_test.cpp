#include "module/scan/object_scan.h"

#include "module/services/services.h"
#include "module/settings/surface_table.h"
#include "orvit/host/object_writer.h"
#include "tests/support/fakes/fake_items.h"
#include "tests/support/fakes/instance.h"
#include "tests/support/fakes/surface_records.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <unistd.h>

namespace orvit {
namespace {

namespace fs = std::filesystem;
using orvit::host::ObjectDescription;
using orvit::host::ObjectSurface;

using Record = fakes::SurfaceRecord;

ObjectSurface surface(const std::string& name, std::array<uint8_t, 4> buffers) {
    ObjectSurface s;
    s.name = name;
    s.buffers = buffers;
    return s;
}

class ScanObjects : public ::testing::Test {
  protected:
    void SetUp() override {
        envelopeService = nullptr;
        ASSERT_NE(instance, nullptr);
        dir = fs::path(::testing::TempDir()) /
              ("object_scan_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }

    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = (dir / name).string();
        EXPECT_TRUE(orvit::host::saveObjectFile(path, bytes)) << path;
        return path;
    }
    std::string write(const std::string& name, const ObjectDescription& object) {
        return write(name, orvit::host::writeObjectFile(object));
    }

    // Scans a scene whose objects use the given files, in order.
    std::vector<Record> scan(const std::vector<std::optional<std::string>>& files) {
        items.objectFiles = files;
        scanObjectSurfaces(instance, items.itemInfo(), items.objectInfo());
        return records();
    }
    std::vector<Record> records() const { return fakes::surfaceRecords(instance); }
    std::vector<int32_t> values() const { return fakes::specialValues(instance); }

    fakes::Instance owner{createInstance()};
    FilterInstance* instance = owner.get();
    fakes::FakeItems items;
    fs::path dir;
};

TEST_F(ScanObjects, AsksForEachObjectsFileNameInSceneOrder) {
    ObjectDescription one;
    one.surfaces = {surface("Red", {3, 0, 0, 0}), surface("Blue", {0, 0, 5, 0})};
    ObjectDescription two;
    two.surfaces = {surface("Gold", {3, 7, 0, 0})};
    const std::string a = write("a.lwo", one);
    const std::string b = write("b.lwo", two);

    EXPECT_EQ(scan({a, std::nullopt, b}),
              (std::vector<Record>{
                  {"Blue", {0, 0, 5, 0}}, {"Gold", {3, 7, 0, 0}}, {"Red", {3, 0, 0, 0}}}));
    EXPECT_EQ(values(), (std::vector<int32_t>{3, 5, 7}));
    EXPECT_EQ(items.calls, (std::vector<std::string>{"first 0 0", "name 1", "next 1", "name 2",
                                                     "next 2", "name 3", "next 3"}));
}

TEST_F(ScanObjects, EveryScanStartsFromAnEmptyTable) {
    ObjectDescription object;
    object.surfaces = {surface("Lamp", {9, 0, 0, 0})};
    const std::string path = write("lamp.lwo", object);
    ASSERT_EQ(scan({path}).size(), 1u);

    EXPECT_EQ(scan({path}).size(), 1u) << "a rescan replaces, not appends";
    EXPECT_TRUE(scan({}).empty());
    EXPECT_EQ(instance->specialValueCount, 0);

    scan({path});
    scanObjectSurfaces(instance, nullptr, items.objectInfo());
    EXPECT_EQ(instance->surfaceCount, 0);
    scan({path});
    scanObjectSurfaces(instance, items.itemInfo(), nullptr);
    EXPECT_EQ(instance->surfaceCount, 0);
}

TEST_F(ScanObjects, AFileUsedByTwoObjectsIsReadTwice) {
    ObjectDescription object;
    object.surfaces = {surface("Wing", {4, 0, 0, 0}), surface("Tail", {0, 0, 0, 0})};
    const std::string path = write("plane.lwo", object);
    EXPECT_EQ(scan({path, path}),
              (std::vector<Record>{{"Wing", {4, 0, 0, 0}}, {"Wing", {4, 0, 0, 0}}}));
    EXPECT_EQ(values(), (std::vector<int32_t>{4}));
}

TEST_F(ScanObjects, FirstSubChunkFollowsTheNameAndItsPad) {
    struct Case {
        std::string name;
        size_t offset;
    };
    const Case cases[] = {{"", 2},      {"A", 2},      {"Abcd", 6},
                          {"Abcde", 6}, {"Abcdef", 8}, {"Abcdefg", 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE("name \"" + c.name + "\"");
        const std::vector<uint8_t> body =
            orvit::host::surfaceChunkBody(surface(c.name, {6, 0, 0, 0}));
        ASSERT_GE(body.size(), c.offset + 10);
        EXPECT_EQ(std::string(body.begin() + c.offset, body.begin() + c.offset + 4), "SPBF");

        ObjectDescription object;
        object.surfaces = {surface(c.name, {6, 0, 0, 0})};
        EXPECT_EQ(scan({write("pad.lwo", object)}), (std::vector<Record>{{c.name, {6, 0, 0, 0}}}));
    }

    // Without the pad byte the sub-chunk is not where the reader looks.
    std::vector<uint8_t> unpadded = {'A', 'b', 'c', 'd', 0, 'S', 'P', 'B', 'F', 0, 4, 6, 0, 0, 0};
    ObjectDescription object;
    object.chunksBefore = {{"SURF", unpadded}};
    EXPECT_TRUE(scan({write("unpadded.lwo", object)}).empty());
}

TEST_F(ScanObjects, ChunksAndSubChunksOfOddLengthAreSkippedExactly) {
    ObjectDescription object;
    object.chunksBefore = {{"PNTS", {1, 2, 3}}, {"SRFS", {'S', 'U', 'R', 'F', 0}}};
    ObjectSurface first = surface("Odd", {2, 0, 0, 0});
    first.extraBefore = {{"COLR", {200, 100, 50}}, {"FLAG", {}}};
    first.extraAfter = {{"SMAN", {1}}}; // leaves the chunk body at an odd length
    object.surfaces = {first, surface("After", {0, 3, 0, 0})};
    object.chunksAfter = {{"CRVS", {9}}};
    const std::vector<uint8_t> bytes = orvit::host::writeObjectFile(object);
    std::vector<uint8_t> tail = orvit::host::writeObjectFile([] {
        ObjectDescription o;
        o.surfaces = {surface("Last", {0, 0, 0, 4})};
        return o;
    }());
    std::vector<uint8_t> file = bytes;
    file.insert(file.end(), tail.begin() + 12, tail.end()); // one more SURF after the odd CRVS

    EXPECT_EQ(scan({write("odd.lwo", file)}),
              (std::vector<Record>{
                  {"After", {0, 3, 0, 0}}, {"Last", {0, 0, 0, 4}}, {"Odd", {2, 0, 0, 0}}}));
}

TEST_F(ScanObjects, EverySpecialBufferSubChunkIsItsOwnRecord) {
    ObjectSurface twice = surface("Twice", {1, 0, 0, 0});
    twice.extraAfter = {{"SPBF", {0, 0, 0, 0}}, {"SPBF", {8, 0, 0, 0, 99, 99}}};
    ObjectSurface none = surface("None", {5, 0, 0, 0});
    none.writeBuffers = false;
    none.extraBefore = {{"spbf", {5, 0, 0, 0}}, {"SPB ", {5, 0, 0, 0}}};
    ObjectDescription object;
    object.surfaces = {twice, none};
    EXPECT_EQ(scan({write("twice.lwo", object)}),
              (std::vector<Record>{{"Twice", {1, 0, 0, 0}}, {"Twice", {8, 0, 0, 0}}}));
    EXPECT_EQ(values(), (std::vector<int32_t>{1, 8}));
}

TEST_F(ScanObjects, OnlyFormLwobFilesContribute) {
    ObjectDescription object;
    object.surfaces = {surface("Kept", {7, 0, 0, 0})};
    const std::vector<uint8_t> good = orvit::host::writeObjectFile(object);
    std::vector<std::optional<std::string>> files;
    for (const char* type : {"LWO2", "lwob", "LWOB"}) {
        object.formType = type;
        files.push_back(write(std::string(type) + ".lwo", object));
    }
    std::vector<uint8_t> notForm = good;
    notForm[0] = 'C'; // "CORM"
    files.push_back(write("corm.lwo", notForm));

    EXPECT_EQ(scan(files), (std::vector<Record>{{"Kept", {7, 0, 0, 0}}}));
}

TEST_F(ScanObjects, FilesThatCannotBeReadAreSkipped) {
    ObjectDescription object;
    object.surfaces = {surface("Good", {1, 0, 0, 0})};
    const std::string good = write("good.lwo", object);
    fs::create_directory(dir / "folder.lwo");
    const std::string locked = write("locked.lwo", object);
    fs::permissions(locked, fs::perms::none);

    const std::vector<Record> found =
        scan({(dir / "missing.lwo").string(), (dir / "folder.lwo").string(), std::nullopt,
              std::string(), locked, good});
    std::vector<Record> expected = {{"Good", {1, 0, 0, 0}}};
    if (access(locked.c_str(), R_OK) == 0) // a privileged user reads it anyway
        expected.push_back(expected.front());
    EXPECT_EQ(found, expected);
}

// Each damaged file, and what it must give: what was read before the damage stays.
TEST_F(ScanObjects, DamagedFilesEndCleanlyKeepingWhatCameBefore) {
    const Record good = {"Good", {1, 0, 0, 0}};
    struct Case {
        const char* file;
        std::vector<Record> records;
    };
    const Case cases[] = {
        {"empty.lwo", {}},
        {"few-bytes.lwo", {}},
        {"header-only.lwo", {}},
        {"tag-cut-short.lwo", {good}},
        {"length-cut-short.lwo", {good}},
        {"length-negative.lwo", {good}},
        {"length-past-end.lwo", {good}},
        {"surf-length-past-end.lwo", {good}},
        {"surf-cut-short.lwo", {good}},
        {"surf-no-nul.lwo", {good}},
        {"subchunk-header-past-body.lwo", {good, {"Part", {2, 0, 0, 0}}}},
        {"subchunk-data-past-body.lwo", {good, {"Over", {2, 0, 0, 0}}}},
        {"spbf-short.lwo", {good}},
    };
    const fs::path data = fs::path(ORVIT_TESTS_DIR) / "data" / "objects";
    size_t listed = 0;
    for (const auto& entry : fs::directory_iterator(data))
        listed += entry.path().extension() == ".lwo";
    EXPECT_EQ(listed, std::size(cases)) << "every damaged file has an expectation";

    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = (data / c.file).string();
        ASSERT_TRUE(fs::exists(path));
        EXPECT_EQ(scan({path}), c.records);
        // A second object using the file reads it again from the start.
        EXPECT_EQ(scan({path, path}).size(), 2 * c.records.size());
    }
}

} // namespace
} // namespace orvit

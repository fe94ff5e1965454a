#include "module/services/services.h"
#include "module/settings/settings.h"
#include "module/settings/surface_table.h"
#include "tests/support/fakes/instance.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace orvit {
namespace {

struct Record {
    std::string name;
    std::array<uint8_t, 4> buffers;
};

class SurfaceTable : public ::testing::Test {
  protected:
    void SetUp() override {
        envelopeService = nullptr;
        ASSERT_NE(instance, nullptr);
    }

    void add(const std::vector<Record>& records) {
        for (const Record& r : records)
            addSurface(instance, r.name.c_str(), r.buffers.data());
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (int32_t i = 0; i < instance->surfaceCount; ++i)
            out.push_back(instance->surfaces[i]->name);
        return out;
    }
    std::vector<int32_t> values() const {
        return std::vector<int32_t>(instance->specialValues,
                                    instance->specialValues + instance->specialValueCount);
    }

    fakes::Instance owner{createInstance()};
    FilterInstance* instance = owner.get();
};

TEST_F(SurfaceTable, FourZeroBytesOrNoNameAddNothingAndLeaveTheTableAsItWas) {
    add({{"Glass", {4, 0, 0, 0}}});
    SurfaceBuffers** surfaces = instance->surfaces;
    int32_t* specialValues = instance->specialValues;
    const uint8_t zero[4] = {0, 0, 0, 0};
    const uint8_t seven[4] = {7, 0, 0, 0};

    EXPECT_EQ(addSurface(instance, "Metal", zero), nullptr);
    EXPECT_EQ(addSurface(instance, nullptr, seven), nullptr);
    EXPECT_EQ(instance->surfaces, surfaces);
    EXPECT_EQ(instance->specialValues, specialValues);
    EXPECT_EQ(names(), (std::vector<std::string>{"Glass"}));
    EXPECT_EQ(values(), (std::vector<int32_t>{4}));
}

TEST_F(SurfaceTable, AddReturnsItsOwnCopyOfTheRecord) {
    char name[] = "Chrome";
    const uint8_t bytes[4] = {0, 0, 0, 200};
    SurfaceBuffers* record = addSurface(instance, name, bytes);
    ASSERT_NE(record, nullptr);
    name[0] = 'X';
    EXPECT_STREQ(record->name, "Chrome");
    EXPECT_EQ(record->buffers[3], 200);
    EXPECT_EQ(instance->surfaces[0], record);
}

TEST_F(SurfaceTable, SpecialValuesAreDistinctNonZeroBytesInNumericOrder) {
    struct Case {
        const char* what;
        std::vector<Record> records;
        std::vector<int32_t> values;
    };
    const Case cases[] = {
        {"shared value once", {{"s", {3, 0, 0, 0}}, {"t", {3, 5, 0, 0}}}, {3, 5}},
        {"repeated byte in one record", {{"s", {5, 5, 0, 0}}}, {5}},
        {"numeric, not surface order", {{"a", {9, 0, 0, 0}}, {"b", {2, 0, 0, 0}}}, {2, 9}},
        {"all four slots, zero gaps",
         {{"a", {0, 255, 0, 128}}, {"b", {1, 0, 1, 0}}},
         {1, 128, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clearSurfaces(instance);
        add(c.records);
        EXPECT_EQ(values(), c.values);
        EXPECT_EQ(instance->surfaceCount, static_cast<int32_t>(c.records.size()));
    }
}

TEST_F(SurfaceTable, NamesSortAsUnsignedBytes) {
    struct Case {
        std::vector<std::string> added;
        std::vector<std::string> sorted;
    };
    const Case cases[] = {
        {{"b", "B", "a"}, {"B", "a", "b"}},
        {{"\x80z", "z", "\xff", "A"}, {"A", "z", "\x80z", "\xff"}},
        {{"ab", "a", "abc", ""}, {"", "a", "ab", "abc"}},
        {{"Sky\xe9", "Sky~", "Sky"}, {"Sky", "Sky~", "Sky\xe9"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.added.front());
        clearSurfaces(instance);
        for (const std::string& n : c.added)
            add({{n, {1, 0, 0, 0}}});
        EXPECT_EQ(names(), c.sorted);
    }
}

TEST(CompareSurfaceNames, SignFollowsTheFirstDifferingUnsignedByte) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"a", "a", 0},    {"B", "a", -1}, {"a", "ab", -1},   {"ab", "a", 1},
        {"\x80", "~", 1}, {"", "", 0},    {"x\xff", "x", 1}, {"x\x01", "x\xfe", -1},
    };
    for (const Case& c : cases) {
        const int r = compareSurfaceNames(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << '"' << c.a << "\" vs \"" << c.b << '"';
    }
}

TEST_F(SurfaceTable, EqualNamesStaySeparateRecords) {
    add({{"Lamp", {7, 0, 0, 0}}, {"Lamp", {7, 0, 0, 0}}, {"Lamp", {8, 0, 0, 0}}});
    EXPECT_EQ(names(), (std::vector<std::string>{"Lamp", "Lamp", "Lamp"}));
    EXPECT_EQ(values(), (std::vector<int32_t>{7, 8}));
}

TEST_F(SurfaceTable, LookupsReturnTheFirstMatchInTableOrder) {
    add({{"c", {0, 0, 0, 6}}, {"b", {6, 2, 0, 0}}, {"a", {2, 3, 4, 5}}, {"d", {9, 9, 9, 9}}});
    ASSERT_EQ(names(), (std::vector<std::string>{"a", "b", "c", "d"}));

    struct ValueCase {
        int32_t value;
        int32_t index;
    };
    const ValueCase byValue[] = {
        {2, 0},  {6, 1},    {5, 0},   {9, 3}, // first record carrying it, in any slot
        {0, 1},                               // 0 finds the first record with a zero byte
        {7, -1}, {256, -1}, {-1, -1}, {-256, -1},
    };
    for (const ValueCase& c : byValue) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(surfaceIndexByValue(instance, c.value), c.index);
        EXPECT_EQ(findSurfaceByValue(instance, c.value),
                  c.index < 0 ? nullptr : instance->surfaces[c.index]);
    }

    EXPECT_EQ(surfaceIndexByName(instance, "c"), 2);
    EXPECT_EQ(findSurfaceByName(instance, "c"), instance->surfaces[2]);
    for (const char* absent : {"C", "", "cc"}) {
        EXPECT_EQ(surfaceIndexByName(instance, absent), -1) << absent;
        EXPECT_EQ(findSurfaceByName(instance, absent), nullptr) << absent;
    }
    EXPECT_EQ(surfaceIndexByName(instance, nullptr), -1);
}

TEST_F(SurfaceTable, ClearEmptiesBothListsAndTheTableIsUsableAgain) {
    add({{"a", {1, 0, 0, 0}}, {"b", {2, 0, 0, 0}}});
    clearSurfaces(instance);
    EXPECT_EQ(instance->surfaces, nullptr);
    EXPECT_EQ(instance->surfaceCount, 0);
    EXPECT_EQ(instance->specialValues, nullptr);
    EXPECT_EQ(instance->specialValueCount, 0);
    EXPECT_EQ(surfaceIndexByValue(instance, 0), -1);

    clearSurfaces(instance);
    add({{"c", {3, 0, 0, 0}}});
    EXPECT_EQ(names(), (std::vector<std::string>{"c"}));
    EXPECT_EQ(values(), (std::vector<int32_t>{3}));
}

} // namespace
} // namespace orvit

#include "module/entry/activation.h"
#include "module/services/services.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// Every service the module looks up, with the offsets of the slots it calls.
struct Record {
    const char* name;
    std::vector<size_t> usedSlots;
    size_t size;
    const void* (*lookup)();
};

// The record of type T that `lookUp` answers with, named `name`, and the
// offsets of the slots the module calls in it.
template <typename T, const T* (*lookUp)()>
Record serviceRecord(const char* name, std::vector<size_t> usedSlots) {
    return {name, std::move(usedSlots), sizeof(T),
            [] { return static_cast<const void*>(lookUp()); }};
}

const Record kRecords[] = {
    serviceRecord<EnvelopeService, orvit::lookupEnvelopeService>(
        "EnvelopeHandler",
        {offsetof(EnvelopeService, createEnvelope), offsetof(EnvelopeService, destroyEnvelope),
         offsetof(EnvelopeService, copyEnvelope), offsetof(EnvelopeService, evaluate),
         offsetof(EnvelopeService, editEnvelope), offsetof(EnvelopeService, loadEnvelope),
         offsetof(EnvelopeService, saveEnvelope)}),
    serviceRecord<MessageService, orvit::lookupMessageService>(
        "Info Messages", {offsetof(MessageService, errorMessage)}),
    serviceRecord<PanelServices, orvit::lookupPanelService>(
        "LWPanelServices",
        {offsetof(PanelServices, createPanel), offsetof(PanelServices, destroyPanel),
         offsetof(PanelServices, openPanel), offsetof(PanelServices, drawPanel),
         offsetof(PanelServices, getPanelAttr), offsetof(PanelServices, setPanelAttr),
         offsetof(PanelServices, addControl), offsetof(PanelServices, drawFuncs)}),
    serviceRecord<ItemInfo, orvit::lookupItemInfo>(
        "LW Item Info 2", {offsetof(ItemInfo, firstItem), offsetof(ItemInfo, nextItem)}),
    serviceRecord<ObjectInfo, orvit::lookupObjectInfo>("LW Object Info",
                                                       {offsetof(ObjectInfo, objectFileName)}),
    serviceRecord<CameraInfo, orvit::lookupCameraInfo>("LW Camera Info",
                                                       {offsetof(CameraInfo, viewValues)}),
};

// The record the fake host hands out: every slot filled with a value that
// is never called, except the one a case clears. Each slot points at
// `inner`, whose slots are filled likewise, so a member record (the panel's
// drawing record) is complete too.
std::string offered;
alignas(void*) unsigned char record[128];
alignas(void*) unsigned char inner[128];
std::vector<std::string> asked;

void* ORVIT_CALL lookup(const char* name, int32_t) {
    asked.push_back(name);
    return offered == name ? record : nullptr;
}

void fill(unsigned char* block, size_t size) {
    void* filled = inner;
    for (size_t at = 0; at + sizeof(void*) <= size; at += sizeof(void*))
        std::memcpy(block + at, &filled, sizeof(void*));
}

void fillRecord(size_t size) {
    fill(record, size);
    fill(inner, sizeof inner);
}

class Services : public ::testing::Test {
  protected:
    void SetUp() override {
        orvit::globalLookup = lookup;
        orvit::envelopeService = nullptr;
        asked.clear();
    }
    void TearDown() override {
        orvit::globalLookup = nullptr;
        orvit::envelopeService = nullptr;
        offered.clear();
    }
};

} // namespace

TEST_F(Services, ARecordLackingAnyUsedSlotCountsAsAbsent) {
    for (const Record& r : kRecords) {
        ASSERT_LE(r.size, sizeof record);
        offered = r.name;
        fillRecord(r.size);
        EXPECT_EQ(r.lookup(), record) << r.name << " complete";
        for (size_t slot : r.usedSlots) {
            fillRecord(r.size);
            std::memset(record + slot, 0, sizeof(void*));
            EXPECT_EQ(r.lookup(), nullptr) << r.name << " without the slot at " << slot;
        }
        offered = "none";
        EXPECT_EQ(r.lookup(), nullptr) << r.name << " not offered";
    }
    // The panel's drawing record lacking one of the three slots drawn with.
    offered = "LWPanelServices";
    for (size_t slot : {offsetof(DrawFuncs, drawRGBPixel), offsetof(DrawFuncs, drawBox),
                        offsetof(DrawFuncs, drawRGBBox)}) {
        fillRecord(sizeof(PanelServices));
        std::memset(inner + slot, 0, sizeof(void*));
        EXPECT_EQ(orvit::lookupPanelService(), nullptr) << "drawing slot at " << slot;
    }
    orvit::globalLookup = nullptr;
    EXPECT_EQ(orvit::lookupItemInfo(), nullptr) << "no lookup at all";
}

TEST_F(Services, HandlerWithAnIncompleteEnvelopeServiceWorksWithoutEnvelopes) {
    offered = "EnvelopeHandler";
    fillRecord(sizeof(EnvelopeService));
    std::memset(record + offsetof(EnvelopeService, evaluate), 0, sizeof(void*));
    FilterHandler handler{};
    EXPECT_EQ(orvit::activateHandler(1, lookup, &handler), 0);
    EXPECT_EQ(orvit::envelopeService, nullptr);
    EXPECT_NE(handler.process, nullptr);
    // Every envelope operation is then a safe no-op.
    int stale = 0;
    double value = 7.0;
    EXPECT_EQ(orvit::createEnvelope(), nullptr);
    EXPECT_FALSE(orvit::evaluateEnvelope(&stale, 1.0, &value));
    EXPECT_EQ(value, 7.0);
    orvit::destroyEnvelope(&stale);
    orvit::copyEnvelope(&stale, &stale);
    EXPECT_FALSE(orvit::saveEnvelope(&stale, nullptr));
    EXPECT_FALSE(orvit::loadEnvelope(&stale, nullptr));
}

#include "module/settings/settings.h"
#include "tests/support/fakes/fake_envelopes.h"
#include "tests/support/fakes/instance.h"

#include <gtest/gtest.h>

using namespace orvit;

namespace {

using fakes::Instance;

void expectDefaults(const GlowSetting& s, int32_t value) {
    EXPECT_EQ(s.value, value);
    EXPECT_EQ(s.enabled, 0);
    const int32_t positions[] = {0, 20, 40, 60, 80};
    for (int i = 0; i < kColorKeyCount; ++i) {
        EXPECT_EQ(s.keyEnabled[i], i == 0 ? 1 : 0) << "key " << i;
        EXPECT_EQ(s.keyRed[i], 255);
        EXPECT_EQ(s.keyGreen[i], 255);
        EXPECT_EQ(s.keyBlue[i], 255);
        EXPECT_EQ(s.keyPosition[i], positions[i]);
    }
    EXPECT_EQ(s.mode, ModeFixed);
    EXPECT_EQ(s.distance, 0.05);
    EXPECT_EQ(s.transparency, 50.0);
    EXPECT_EQ(s.sizeEnvelope, nullptr);
    EXPECT_EQ(s.transparencyEnvelope, nullptr);
}

} // namespace

TEST(CreateInstance, StartsEmptyWithDefaultClipboardOwnedByItself) {
    Instance instance(createInstance());
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->enabled, 0);
    EXPECT_EQ(instance->settingCount, 0);
    EXPECT_EQ(instance->surfaceCount, 0);
    EXPECT_EQ(instance->specialValueCount, 0);
    EXPECT_EQ(instance->snapshot.red, nullptr);
    EXPECT_EQ(instance->glowLayer.strength, nullptr);
    EXPECT_EQ(instance->glowLayer.width, 0);
    expectDefaults(instance->clipboard, 0);
    EXPECT_EQ(instance->clipboard.owner, instance.get());
    destroyInstance(nullptr); // ignored
}

TEST(FindOrAddSetting, SameValueTwiceGivesOneEntry) {
    Instance instance(createInstance());
    GlowSetting* a = findOrAddSetting(instance.get(), 3);
    GlowSetting* b = findOrAddSetting(instance.get(), 3);
    GlowSetting* c = findOrAddSetting(instance.get(), 7);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_EQ(instance->settingCount, 2);
    expectDefaults(*a, 3);
    EXPECT_EQ(a->owner, instance.get());
    EXPECT_EQ(instance->settings[1], c);
}

TEST(CopySetting, EnvelopesFollowTheSourceAndOwnerStays) {
    fakes::FakeEnvelopes envelopes;
    Instance instance(createInstance());
    GlowSetting source;
    initSetting(&source, nullptr, 9);
    source.enabled = 1;
    source.mode = ModeGDepth;
    source.distance = 0.25;
    source.keyRed[3] = 12;
    source.sizeEnvelope = envelopes.make(0.5);

    GlowSetting plain;
    initSetting(&plain, instance.get(), 1);
    copySetting(&plain, &source);
    EXPECT_EQ(plain.owner, instance.get());
    EXPECT_EQ(plain.value, 9);
    EXPECT_EQ(plain.mode, ModeGDepth);
    EXPECT_EQ(plain.keyRed[3], 12);
    ASSERT_NE(plain.sizeEnvelope, nullptr);
    EXPECT_NE(plain.sizeEnvelope, source.sizeEnvelope);
    EXPECT_EQ(fakes::FakeEnvelopes::valueOf(plain.sizeEnvelope), 0.5);
    EXPECT_EQ(plain.transparencyEnvelope, nullptr);

    // Into an entry that has both: the size one is reused, the other destroyed.
    GlowSetting both;
    initSetting(&both, nullptr, 2);
    both.sizeEnvelope = envelopes.make(1.0);
    both.transparencyEnvelope = envelopes.make(2.0);
    EnvelopeHandle kept = both.sizeEnvelope;
    copySetting(&both, &source);
    EXPECT_EQ(both.sizeEnvelope, kept);
    EXPECT_EQ(fakes::FakeEnvelopes::valueOf(kept), 0.5);
    EXPECT_EQ(both.transparencyEnvelope, nullptr);

    // From an entry without envelopes: the destination ends with none.
    GlowSetting bare;
    initSetting(&bare, nullptr, 4);
    copySetting(&plain, &bare);
    EXPECT_EQ(plain.sizeEnvelope, nullptr);

    releaseEnvelopes(&both);
    releaseEnvelopes(&source);
    EXPECT_EQ(envelopes.live(), 0);
}

TEST(CopyInstance, DeepCopiesSettingsAndLeavesTheRest) {
    fakes::FakeEnvelopes envelopes;
    Instance source(createInstance());
    Instance destination(createInstance());
    source->enabled = 1;
    GlowSetting* s = appendSetting(source.get(), 5);
    s->transparencyEnvelope = envelopes.make(30.0);
    appendSetting(source.get(), 6)->enabled = 1;
    GlowSetting* old = appendSetting(destination.get(), 1);
    old->sizeEnvelope = envelopes.make(1.0);
    destination->clipboard.value = 42;

    copyInstance(destination.get(), source.get());
    ASSERT_EQ(destination->settingCount, 2);
    EXPECT_EQ(destination->enabled, 1);
    EXPECT_EQ(destination->settings[0]->value, 5);
    EXPECT_EQ(destination->settings[0]->owner, nullptr);
    EXPECT_NE(destination->settings[0]->transparencyEnvelope, s->transparencyEnvelope);
    EXPECT_EQ(destination->settings[1]->enabled, 1);
    EXPECT_EQ(destination->clipboard.value, 42);
    EXPECT_EQ(envelopes.live(), 2); // the destination's old envelope was released

    Instance empty(createInstance());
    copyInstance(destination.get(), empty.get());
    EXPECT_EQ(destination->settingCount, 0);
    EXPECT_EQ(destination->enabled, 0);
    source.reset();
    destination.reset();
    EXPECT_EQ(envelopes.live(), 0);
}

TEST(DestroyInstance, ReleasesEnvelopesSizeFirstInListOrder) {
    fakes::FakeEnvelopes envelopes;
    Instance instance(createInstance());
    instance->clipboard.sizeEnvelope = envelopes.make(1.0);
    GlowSetting* a = appendSetting(instance.get(), 1);
    a->transparencyEnvelope = envelopes.make(2.0);
    a->sizeEnvelope = envelopes.make(3.0);
    GlowSetting* b = appendSetting(instance.get(), 2);
    b->transparencyEnvelope = envelopes.make(4.0);
    instance.reset();
    // Entries in list order, each size before transparency; the clipboard last.
    EXPECT_EQ(envelopes.destroyed, (std::vector<int>{3, 2, 4, 1}));
    EXPECT_EQ(envelopes.live(), 0);
}

TEST(CopySetting, WithoutEnvelopeServiceDropsEnvelopesInsteadOfCrashing) {
    // No service installed: a source handle cannot be copied, so the copy has none.
    GlowSetting source;
    initSetting(&source, nullptr, 1);
    int dummy = 0;
    source.sizeEnvelope = &dummy;
    GlowSetting destination;
    initSetting(&destination, nullptr, 2);
    copySetting(&destination, &source);
    EXPECT_EQ(destination.sizeEnvelope, nullptr);
    EXPECT_EQ(destination.value, 1);
}

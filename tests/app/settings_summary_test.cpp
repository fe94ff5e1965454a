#include "standin/app/settings_summary.h"

#include <gtest/gtest.h>

using namespace orvit::app;

namespace {

TEST(SettingsSummary, DescribesEachEnabledGlowWithItsEnvelopesAtTheTime) {
    const std::vector<std::string> keys = {"1 255 255 255 0", "0 255 255 255 20",
                                           "0 255 255 255 40", "0 255 255 255 60",
                                           "0 255 255 255 80"};
    auto entry = [&](std::vector<std::string> head) {
        head.insert(head.end(), keys.begin(), keys.end());
        return head;
    };
    auto settings = [&](const std::string& header, std::vector<std::vector<std::string>> entries) {
        std::vector<std::string> lines = {"v 04", header};
        for (const auto& e : entries)
            lines.insert(lines.end(), e.begin(), e.end());
        return lines;
    };
    const auto fixedKeyed = entry({"1 1 0 0.060000 35.000000", "0 1", "keys 2", "0 60", "1 10"});
    const auto depthOff = entry({"2 0 1 0.700000 60.000000", "0 0"});
    const auto gDepth = entry({"4 1 3 0.300000 10.000000", "1 0", "keys 2", "0 0.25", "1 0.5"});
    struct Case {
        std::vector<std::string> lines;
        double time;
        std::string expected;
    } cases[] = {
        {settings("1 3", {fixedKeyed, depthOff, gDepth}), 0.5,
         "1 Fixed (size 0.06, transparency 35 keyed), "
         "4 G-Depth (size 0.375 keyed, transparency 10)"},
        {settings("1 3", {fixedKeyed, depthOff, gDepth}), 2.0,
         "1 Fixed (size 0.06, transparency 10 keyed), "
         "4 G-Depth (size 0.5 keyed, transparency 10)"},
        {settings("0 1", {fixedKeyed}), 0.0, "filter off"},
        {settings("1 1", {depthOff}), 0.0, "no glow enabled"},
        {settings("1 0", {}), 0.0, "no glow enabled"},
        // Cut short inside an envelope, or not the saved form at all.
        {{"v 04", "1 1", "1 1 0 0.06 35", "0 1", "keys 3", "0 1"},
         0.0,
         "(settings not understood)"},
        {{"1 1", "3 1 0 0.05 50"}, 0.0, "(settings not understood)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describeSettings(summariseSettings(c.lines), c.time), c.expected);
}

} // namespace

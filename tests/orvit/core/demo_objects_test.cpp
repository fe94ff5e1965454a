// The demo scene's committed object files, walked through the stand-in's item
// and object services, give the surfaces and values its generator wrote.
#include "demo_objects.h"
#include "module/scan/object_scan.h"
#include "module/settings/settings.h"
#include "orvit/host/host_services.h"
#include "tests/support/fakes/surface_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

using orvit::host::HostServices;

using Record = fakes::SurfaceRecord;

TEST(DemoObjects, ScanGivesTheSurfacesAndValuesTheGeneratorWrote) {
    const auto objects = orvit::demo::demoObjects();
    HostServices host;
    std::vector<Record> expected;
    std::set<int32_t> values;
    for (const auto& object : objects) {
        host.scene.objects.push_back(std::string(ORVIT_DEMO_FOLDER) + "/objects/" + object.file);
        for (const auto& s : object.object.surfaces) {
            const bool anyValue =
                std::any_of(s.buffers.begin(), s.buffers.end(), [](uint8_t b) { return b != 0; });
            if (!s.writeBuffers || !anyValue)
                continue;
            expected.push_back({s.name, s.buffers});
            for (uint8_t b : s.buffers)
                if (b != 0)
                    values.insert(b);
        }
    }
    // std::string orders its characters as unsigned bytes, as the table does.
    std::sort(expected.begin(), expected.end(),
              [](const Record& a, const Record& b) { return a.name < b.name; });
    ASSERT_FALSE(expected.empty());

    const auto* items = static_cast<const ItemInfo*>(HostServices::lookup()("LW Item Info 2", 0));
    const auto* files = static_cast<const ObjectInfo*>(HostServices::lookup()("LW Object Info", 0));
    orvit::FilterInstance* instance = orvit::createInstance();
    ASSERT_NE(instance, nullptr);
    orvit::scanObjectSurfaces(instance, items, files);

    EXPECT_EQ(fakes::surfaceRecords(instance), expected);
    EXPECT_EQ(fakes::specialValues(instance), std::vector<int32_t>(values.begin(), values.end()));
    orvit::destroyInstance(instance);
}

} // namespace

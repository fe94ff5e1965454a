// Which channels renderers' files hold for each pass, by name alone.
#include "orvit/passes/channels.h"

#include <gtest/gtest.h>

using namespace orvit::passes;

namespace {

using Names = std::vector<std::string>;
using Candidates = std::vector<Names>;

TEST(ChannelCandidates, RenderersNamesAreFoundWithAnyLayerPrefixAndNothingElse) {
    const Names blender = {"ViewLayer.Combined.A", "ViewLayer.Combined.B", "ViewLayer.Combined.G",
                           "ViewLayer.Combined.R", "ViewLayer.Depth.Z",    "ViewLayer.DiffCol.R",
                           "ViewLayer.DiffCol.G",  "ViewLayer.DiffCol.B",  "ViewLayer.IndexOB.X",
                           "ViewLayer.IndexMA.X",  "ViewLayer.Normal.Z",   "ViewLayer.Vector.Z"};
    const Names twoLayers = {"Fg.Combined.R", "Fg.Combined.G", "Fg.Combined.B",
                             "Bg.Combined.R", "Bg.Combined.G", "Bg.Combined.B"};
    struct Case {
        const char* name;
        Names channels;
        Candidates colour, special, depth;
    } cases[] = {
        {"blender multilayer",
         blender,
         {{"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B",
           "ViewLayer.Combined.A"}},
         {{"ViewLayer.IndexOB.X"}},
         {{"ViewLayer.Depth.Z"}}},
        {"blender 5's pass names",
         {"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B",
          "ViewLayer.Object Index.X", "ViewLayer.Depth.Z"},
         {{"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B"}},
         {{"ViewLayer.Object Index.X"}},
         {{"ViewLayer.Depth.Z"}}},
        {"plain", {"R", "G", "B", "A", "Z"}, {{"R", "G", "B", "A"}}, {}, {{"Z"}}},
        {"grey and alpha", {"Y", "A"}, {{"Y", "Y", "Y", "A"}}, {}, {}},
        {"other names, any case",
         {"beauty.r", "beauty.g", "beauty.b", "object_id", "depth"},
         {{"beauty.r", "beauty.g", "beauty.b"}},
         {{"object_id"}},
         {{"depth"}}},
        {"a renderer's id pass of three channels",
         {"R", "G", "B", "ObjectID.R", "ObjectID.G", "ObjectID.B", "depth.Z"},
         {{"R", "G", "B"}},
         {{"ObjectID.R"}, {"ObjectID.G"}, {"ObjectID.B"}},
         {{"depth.Z"}}},
        {"two view layers",
         twoLayers,
         {{"Fg.Combined.R", "Fg.Combined.G", "Fg.Combined.B"},
          {"Bg.Combined.R", "Bg.Combined.G", "Bg.Combined.B"}},
         {},
         {}},
        {"a layer's own Z is not taken for depth", {"Normal.Z", "N.Z", "layer.Z"}, {}, {}, {}},
        {"V-Ray's grey depth element",
         {"R", "G", "B", "VRayZDepth.R", "VRayZDepth.G", "VRayZDepth.B", "VRayObjectID"},
         {{"R", "G", "B"}},
         {{"VRayObjectID"}},
         {{"VRayZDepth.R"}}},
        {"a compositor's spelt-out letters",
         {"rgba.red", "rgba.green", "rgba.blue", "rgba.alpha", "Red", "GREEN", "blue",
          "VRayZDepth.red"},
         {{"rgba.red", "rgba.green", "rgba.blue", "rgba.alpha"}, {"Red", "GREEN", "blue"}},
         {},
         {{"VRayZDepth.red"}}},
        {"Arnold's", {"R", "G", "B", "A", "ID", "Z"}, {{"R", "G", "B", "A"}}, {{"ID"}}, {{"Z"}}},
        {"3Delight's",
         {"Ci.r", "Ci.g", "Ci.b", "Ci.a", "z"},
         {{"Ci.r", "Ci.g", "Ci.b", "Ci.a"}},
         {},
         {{"z"}}},
        {"a z depth alone or as a layer",
         {"beauty.R", "beauty.G", "beauty.B", "ZDepth", "shot.z_depth.Y", "VRayRenderID"},
         {{"beauty.R", "beauty.G", "beauty.B"}},
         {{"VRayRenderID"}},
         {{"ZDepth"}, {"shot.z_depth.Y"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(channelCandidates(PassRole::Colour, c.channels), c.colour);
        EXPECT_EQ(channelCandidates(PassRole::Special, c.channels), c.special);
        EXPECT_EQ(channelCandidates(PassRole::Depth, c.channels), c.depth);
    }
}

} // namespace

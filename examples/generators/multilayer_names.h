// The channels of sequence_scene's multilayer EXR frames, named as a path
// tracer names its passes: colour with alpha, object index and depth, each
// under its layer.
#pragma once

inline constexpr const char* kCombined[4] = {"ViewLayer.Combined.R", "ViewLayer.Combined.G",
                                             "ViewLayer.Combined.B", "ViewLayer.Combined.A"};
inline constexpr const char* kIndexOB = "ViewLayer.IndexOB.X";
inline constexpr const char* kDepthZ = "ViewLayer.Depth.Z";

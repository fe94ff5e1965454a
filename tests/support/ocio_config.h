// A small OpenColorIO configuration whose view is a square root, so that
// linear 0.25 shows as 0.5, with a look that doubles the light first.
#pragma once

namespace testsupport {

constexpr const char* kSquareRootOcioConfig = R"(ocio_profile_version: 2
roles:
  default: linear
  scene_linear: linear
displays:
  screen:
    - !<View> {name: root, colorspace: root}
looks:
  - !<Look> {name: double, process_space: linear, transform: !<MatrixTransform> {matrix: [2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1]}}
colorspaces:
  - !<ColorSpace> {name: linear}
  - !<ColorSpace> {name: root, from_scene_reference: !<ExponentTransform> {value: [2, 2, 2, 1], direction: inverse}}
)";

} // namespace testsupport

// Settings lines as the module saves them, for tests that hand them back to
// a loaded module.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// Value 3 in "Fixed" at distance 0.1, transparency 60 under an envelope with
// keys (0, 20) and (5, 90), and two colour keys: red to orange.
inline const std::vector<std::string> kFixedEntryWithEnvelope = {"3 1 0 0.100000 60.000000",
                                                                 "0 1",
                                                                 "keys 2",
                                                                 "0 20",
                                                                 "5 90",
                                                                 "1 255 200 0 0",
                                                                 "1 255 0 0 100",
                                                                 "0 255 255 255 40",
                                                                 "0 255 255 255 60",
                                                                 "0 255 255 255 80"};

} // namespace testsupport

// The settings panel's controls by creation index, and a fixture that opens
// the panel on a recording panel service with fake envelopes.
#pragma once

#include "module/panel/settings_panel.h"
#include "tests/support/fakes/fake_envelopes.h"
#include "tests/support/fakes/fake_panel.h"
#include "tests/support/fakes/instance.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace panelunit {

// Indices of the controls in creation order.
enum : int {
    kEnable = 0,
    kValueBox = 1,
    kSpecial = 2,
    kSurface = 3,
    kCopy = 4,
    kPaste = 5,
    kKeyBox0 = 6, // key i: box 6 + 3i, colour 7 + 3i, position 8 + 3i
    kStrip = 21,
    kModeChoice = 25,
    kDistance = 26,
    kSizeE = 27,
    kTransparency = 28,
    kTransE = 29,
    kPreviewArea = 30,
    kPreviewButton = 32,
    kDisplay = 33,
    kHalf = 34,
};

// Members are destroyed instance first, so its envelopes go back to the fake
// service while it still counts them. SetUp makes the scene and the panel
// current.
class PanelFixture : public ::testing::Test {
  protected:
    // Opens the panel; `user` acts while it is open and answers OK or Cancel.
    bool open(std::function<int32_t()> user) {
        panel.user = std::move(user);
        return orvit::showSettingsPanel(instance.get());
    }
    fakes::FakeControl* c(int index) { return panel.control(index); }

    fakes::FakeEnvelopes envelopes;
    fakes::FakePanel panel;
    fakes::Instance instance;
};

} // namespace panelunit

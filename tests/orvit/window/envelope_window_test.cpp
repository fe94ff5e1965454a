// The envelope editor's window: its table of keys, the range the request
// sets, the answers its buttons give, and the curve it plots.
#include "tests/orvit/window/window_test_support.h"

#include "orvit/core/envelopes.h"
#include "orvit/window/capture.h"
#include "orvit/window/envelope_window.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

using orvit::core::Key;
using orvit::window::EnvelopeWindow;
using orvit::window::FrameSpan;

const FrameSpan kFrames{1, 6, 24.0};

EnvelopeEditRequest sizeRequest() {
    EnvelopeEditRequest r{};
    r.title = "Glow size envelope";
    r.label = "Size";
    r.low = 0.0f;
    r.high = 0.1f;
    return r;
}

using Pairs = std::vector<std::pair<double, double>>;

Pairs pairs(const std::vector<Key>& keys) {
    Pairs out;
    for (const Key& k : keys)
        out.emplace_back(k.time, k.value);
    return out;
}

std::vector<std::string> rows(const EnvelopeWindow& w) {
    std::vector<std::string> out;
    for (int i = 1; i <= w.table->size(); ++i)
        out.push_back(w.table->text(i));
    return out;
}

void enter(EnvelopeWindow& w, const char* time, const char* value, Fl_Button* button) {
    w.timeField->value(time);
    w.valueField->value(value);
    button->do_callback();
}

TEST(EnvelopeWindow, TheTableAddsChangesAndDeletesKeysInTimeOrderWithinTheRange) {
    const EnvelopeEditRequest request = sizeRequest();
    EnvelopeWindow w({{0.2, 0.05}, {0.0, 0.01}}, request, kFrames);
    EXPECT_EQ(std::string(w.label()), "Glow size envelope");
    EXPECT_EQ(rows(w), (std::vector<std::string>{"0\t0\t0.01", "4.8\t0.2\t0.05"}));
    // The first key is in the fields from the start; a row's key once chosen.
    EXPECT_EQ(std::string(w.timeField->value()), "0");
    w.table->value(2);
    w.table->do_callback();
    EXPECT_EQ(std::string(w.timeField->value()), "0.2");
    EXPECT_EQ(std::string(w.valueField->value()), "0.05");

    // Each step chooses a row first (0 leaves the choice, -1 chooses none),
    // types a key into the two fields (unless null) and presses a button.
    struct Step {
        const char* name;
        int row;
        const char* time;
        const char* value;
        Fl_Button* button;
        Pairs keys;
        std::string refusal;
    };
    const Pairs sameTime = {{0.0, 0.01}, {0.1, 0.03}, {0.1, 0.04}, {0.2, 0.05}};
    const Pairs moved = {{0.0, 0.01}, {0.1, 0.03}, {0.2, 0.05}, {0.3, 0.1}};
    const Pairs deleted = {{0.0, 0.01}, {0.2, 0.05}, {0.3, 0.1}};
    const std::string outOfRange = "Size takes values from 0 to 0.1000000015.";
    const Step steps[] = {
        {"add between", 0, "0.1", "0.03", w.addButton, {{0.0, 0.01}, {0.1, 0.03}, {0.2, 0.05}}, ""},
        {"add at a time already keyed goes after it", 0, "0.1", "0.04", w.addButton, sameTime, ""},
        {"change the selected key, which moves", 0, "0.3", "0.1", w.changeButton, moved, ""},
        {"above the range", 0, "0.4", "0.2", w.addButton, moved, outOfRange},
        {"below the range", 0, "0.4", "-0.001", w.changeButton, moved, outOfRange},
        {"time not a number", 0, "soon", "0.02", w.addButton, moved, "The time is not a number."},
        {"value not a number", 0, "0.5", "nan", w.addButton, moved, "Size is not a number."},
        {"delete the selected key", 2, nullptr, nullptr, w.deleteButton, deleted, ""},
        {"change with nothing selected", -1, "0.1", "0.02", w.changeButton, deleted,
         "Select the key to change."},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.row > 0) {
            w.table->value(s.row);
            w.table->do_callback();
        } else if (s.row < 0) {
            w.table->deselect();
        }
        if (s.time != nullptr)
            enter(w, s.time, s.value, s.button);
        else
            s.button->do_callback();
        EXPECT_EQ(pairs(w.keys()), s.keys);
        EXPECT_EQ(w.refusal(), s.refusal);
        EXPECT_EQ(static_cast<size_t>(w.table->size()), s.keys.size());
    }
}

TEST(EnvelopeWindow, OkGivesTheEnvelopeTheKeysCancelAndRemoveLeaveIt) {
    REQUIRE_DISPLAY();
    const std::vector<Key> original = {{0.0, 0.02}, {0.25, 0.08}};
    const Pairs originalPairs = pairs(original);
    // An edit, then the window closed one way.
    enum class Edit { None, AddKey, DeleteEveryKey };
    struct Case {
        const char* name;
        Edit edit;
        std::function<void(EnvelopeWindow&)> close;
        int32_t answer;
        Pairs keys;
    };
    const auto ok = [](EnvelopeWindow& w) { w.okButton->do_callback(); };
    const Case cases[] = {
        {"ok after an added key", Edit::AddKey, ok, 1, {{0.0, 0.02}, {0.125, 0.1}, {0.25, 0.08}}},
        {"ok after deleting every key", Edit::DeleteEveryKey, ok, 1, {}},
        {"cancel after an edit", Edit::AddKey,
         [](EnvelopeWindow& w) { w.cancelButton->do_callback(); }, 0, originalPairs},
        {"remove", Edit::None, [](EnvelopeWindow& w) { w.removeButton->do_callback(); }, -1,
         originalPairs},
        {"close box", Edit::AddKey, [](EnvelopeWindow& w) { w.do_callback(); }, 0, originalPairs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        orvit::core::Envelope* envelope = orvit::core::makeEnvelope(original);
        orvit::window::WindowEnvelopeEditor editor(kFrames);
        std::vector<Key> shown;
        editor.onOpen = [&](EnvelopeWindow& w) {
            shown = w.keys();
            if (c.edit == Edit::AddKey)
                enter(w, "0.125", "0.1", w.addButton);
            while (c.edit == Edit::DeleteEveryKey && w.table->size() > 0) {
                w.table->value(1);
                w.deleteButton->do_callback();
            }
            c.close(w);
        };
        EXPECT_EQ(editor.edit(*envelope, sizeRequest()), c.answer);
        EXPECT_EQ(pairs(shown), originalPairs);
        EXPECT_EQ(pairs(envelope->keys()), c.keys);
        orvit::core::destroyEnvelope(envelope);
    }
}

TEST(EnvelopeWindow, ThePlotDrawsTheCurveBetweenLowAndHighOverTheFrames) {
    REQUIRE_DISPLAY();
    // Half of the range from frame 1 to frame 3, then rising to the top at
    // frame 6: the curve's colour sits on those heights.
    const std::vector<Key> keys = {{1 / 24.0, 0.05}, {3 / 24.0, 0.05}, {6 / 24.0, 0.1}};
    orvit::panel::Canvas shot;
    orvit::window::WindowEnvelopeEditor editor(kFrames);
    editor.onOpen = [&](EnvelopeWindow& w) {
        shot = orvit::window::captureWindow(w);
        w.cancelButton->do_callback();
    };
    orvit::core::Envelope* envelope = orvit::core::makeEnvelope(keys);
    EXPECT_EQ(editor.edit(*envelope, sizeRequest()), 0);
    orvit::core::destroyEnvelope(envelope);

    // The plot's box: left 66, right 536, top 24, bottom 204 (the window's
    // 540 x 220 plot at 10, 10 less its margins), frames 1 to 6 across.
    const std::array<uint8_t, 3> curve = {30, 70, 160};
    auto curveRow = [&](int x) {
        const double time = (1 + (x - 66) * 5.0 / 470) / 24;
        const double value = orvit::core::evaluateKeys(keys, time);
        return 204 - static_cast<int>(value / static_cast<double>(0.1f) * 180 + 0.5);
    };
    for (int x : {80, 200, 230, 320, 400, 480, 530}) {
        SCOPED_TRACE(x);
        int found = -1;
        for (int row = 24; row <= 204 && found < 0; ++row)
            if (shot.pixel(x, row) == curve)
                found = row;
        EXPECT_NEAR(found, curveRow(x), 2);
    }
}

} // namespace

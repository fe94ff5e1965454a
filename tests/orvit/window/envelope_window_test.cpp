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

    struct Step {
        const char* name;
        std::function<void()> act;
        Pairs keys;
        std::string refusal;
    };
    const Step steps[] = {
        {"add between",
         [&] { enter(w, "0.1", "0.03", w.addButton); },
         {{0.0, 0.01}, {0.1, 0.03}, {0.2, 0.05}},
         ""},
        {"add at a time already keyed goes after it",
         [&] { enter(w, "0.1", "0.04", w.addButton); },
         {{0.0, 0.01}, {0.1, 0.03}, {0.1, 0.04}, {0.2, 0.05}},
         ""},
        {"change the selected key, which moves",
         [&] { enter(w, "0.3", "0.1", w.changeButton); },
         {{0.0, 0.01}, {0.1, 0.03}, {0.2, 0.05}, {0.3, 0.1}},
         ""},
        {"above the range",
         [&] { enter(w, "0.4", "0.2", w.addButton); },
         {{0.0, 0.01}, {0.1, 0.03}, {0.2, 0.05}, {0.3, 0.1}},
         "Size takes values from 0 to 0.1000000015."},
        {"below the range",
         [&] { enter(w, "0.4", "-0.001", w.changeButton); },
         {{0.0, 0.01}, {0.1, 0.03}, {0.2, 0.05}, {0.3, 0.1}},
         "Size takes values from 0 to 0.1000000015."},
        {"time not a number",
         [&] { enter(w, "soon", "0.02", w.addButton); },
         {{0.0, 0.01}, {0.1, 0.03}, {0.2, 0.05}, {0.3, 0.1}},
         "The time is not a number."},
        {"value not a number",
         [&] { enter(w, "0.5", "nan", w.addButton); },
         {{0.0, 0.01}, {0.1, 0.03}, {0.2, 0.05}, {0.3, 0.1}},
         "Size is not a number."},
        {"delete the selected key",
         [&] {
             w.table->value(2);
             w.table->do_callback();
             w.deleteButton->do_callback();
         },
         {{0.0, 0.01}, {0.2, 0.05}, {0.3, 0.1}},
         ""},
        {"change with nothing selected",
         [&] {
             w.table->deselect();
             enter(w, "0.1", "0.02", w.changeButton);
         },
         {{0.0, 0.01}, {0.2, 0.05}, {0.3, 0.1}},
         "Select the key to change."},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        s.act();
        EXPECT_EQ(pairs(w.keys()), s.keys);
        EXPECT_EQ(w.refusal(), s.refusal);
        EXPECT_EQ(static_cast<size_t>(w.table->size()), s.keys.size());
    }
}

TEST(EnvelopeWindow, OkGivesTheEnvelopeTheKeysCancelAndRemoveLeaveIt) {
    REQUIRE_DISPLAY();
    const std::vector<Key> original = {{0.0, 0.02}, {0.25, 0.08}};
    const Pairs originalPairs = pairs(original);
    struct Case {
        const char* name;
        std::function<void(EnvelopeWindow&)> act;
        int32_t answer;
        Pairs keys;
    };
    const Case cases[] = {
        {"ok after an added key",
         [](EnvelopeWindow& w) {
             enter(w, "0.125", "0.1", w.addButton);
             w.okButton->do_callback();
         },
         1,
         {{0.0, 0.02}, {0.125, 0.1}, {0.25, 0.08}}},
        {"ok after deleting every key",
         [](EnvelopeWindow& w) {
             while (w.table->size() > 0) {
                 w.table->value(1);
                 w.deleteButton->do_callback();
             }
             w.okButton->do_callback();
         },
         1,
         {}},
        {"cancel after an edit",
         [](EnvelopeWindow& w) {
             enter(w, "0.125", "0.1", w.addButton);
             w.cancelButton->do_callback();
         },
         0, originalPairs},
        {"remove", [](EnvelopeWindow& w) { w.removeButton->do_callback(); }, -1, originalPairs},
        {"close box",
         [](EnvelopeWindow& w) {
             enter(w, "0.125", "0.1", w.addButton);
             w.do_callback();
         },
         0, originalPairs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        orvit::core::Envelope* envelope = orvit::core::makeEnvelope(original);
        orvit::window::WindowEnvelopeEditor editor(kFrames);
        std::vector<Key> shown;
        editor.onOpen = [&](EnvelopeWindow& w) {
            shown = w.keys();
            c.act(w);
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

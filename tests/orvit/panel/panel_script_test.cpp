// The scripted user: reading scripts, finding controls the way a person names
// them on a panel laid out as the settings panel is, running the actions and
// answering the envelope editor.
#include "panel_host_support.h"

#include "orvit/core/envelopes.h"
#include "orvit/host/host_services.h"
#include "orvit/panel/script_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using ::testing::HasSubstr;

namespace {

using namespace orvit::core;
using namespace orvit::panel;
using namespace paneltest;

const char* const kValues[] = {"  3 ", "  7 ", " 12 ", nullptr};
const char* const kSurfaces[] = {"Comet", "Crate", "Lamp", nullptr};
const char* const kModes[] = {"Fixed", "Depth", "G-Fixed", "G-Depth", nullptr};
const char* const kDisplays[] = {"Color", "Depth", "Special", "Preview", nullptr};
const char* const kEmptyLine[] = {"", nullptr};

// An "E" button's routine, as the settings panel's: edit a new envelope
// started from the current one; keep it on 1, drop it otherwise.
struct EnvelopeBench {
    EnvelopeBench(const char* t, const char* l, float h) : title(t), label(l), high(h) {}
    const char* title;
    const char* label;
    float high;
    EnvelopeHandle current = nullptr;
    std::vector<int32_t> results;
    bool dirtyTail = false;
};

extern "C" void ORVIT_CALL pressEnvelope(ControlHandle, void* userData) {
    auto* bench = static_cast<EnvelopeBench*>(userData);
    const EnvelopeService* service = envelopeService();
    int32_t word = 0;
    EnvelopeHandle e = service->createEnvelope(&word);
    if (bench->current != nullptr)
        service->copyEnvelope(bench->current, e);
    EnvelopeEditRequest request{};
    request.panelServices = const_cast<PanelServices*>(panelServices());
    request.title = bench->title;
    request.label = bench->label;
    request.low = 0.0f;
    request.high = bench->high;
    request.zero[sizeof request.zero - 1] = bench->dirtyTail ? 1 : 0;
    const int32_t r = service->editEnvelope(e, &request);
    bench->results.push_back(r);
    if (r == 1) {
        service->destroyEnvelope(bench->current);
        bench->current = e;
    } else {
        service->destroyEnvelope(e);
        if (r == -1) {
            service->destroyEnvelope(bench->current);
            bench->current = nullptr;
        }
    }
}

// A panel made and placed the way the settings panel makes and places its
// 35 controls; ctl[1] .. ctl[35] in creation order.
class ScriptedPanel : public HostPanelTest {
  protected:
    ScriptedPanel() : HostPanelTest("Panel") { build(); }
    ~ScriptedPanel() override {
        destroyEnvelope(size.current);
        destroyEnvelope(trans.current);
    }

    void moveTo(ControlHandle h, int32_t x, int32_t y) {
        setInt(h, AttrX, x);
        setInt(h, AttrY, y);
    }
    int32_t right(ControlHandle h) { return getInt(h, AttrX) + getInt(h, AttrWidth); }
    int32_t y(ControlHandle h) { return getInt(h, AttrY); }

    void build() {
        ctl[1] = add("BoolControl", plainDesc(DescBool), "Enable Orvit");
        ctl[2] = add("BoolControl", plainDesc(DescBool), "");
        ctl[3] = add("PopupControl", listDesc(kValues, 3), "Special Buffer");
        moveTo(ctl[3], right(ctl[2]), y(ctl[2]));
        ctl[4] = add("PopupControl", listDesc(kSurfaces, 3), "Surface");
        moveTo(ctl[4], right(ctl[3]) + 20, y(ctl[2]));
        ctl[5] = add("ButtonControl", plainDesc(DescButton), "Copy");
        moveTo(ctl[5], right(ctl[4]) + 40, y(ctl[2]));
        ctl[6] = add("ButtonControl", plainDesc(DescButton), "Paste");
        moveTo(ctl[6], right(ctl[5]), y(ctl[2]));
        for (int i = 0; i < 5; ++i) {
            ControlHandle* row = &ctl[7 + 3 * i];
            row[0] = add("BoolControl", plainDesc(DescBool), "");
            row[1] = add("MiniRGBControl", plainDesc(DescRGB), "");
            moveTo(row[1], right(row[0]), y(row[0]));
            row[2] = add("MiniSliderControl", rangeDesc(100, 0, 100), "Position");
            moveTo(row[2], right(row[1]), y(row[0]));
        }
        ctl[22] = add("AreaControl", areaDesc(500, 10), "");
        ctl[23] = add("TextControl", textDesc(kEmptyLine), "Mode");
        ctl[24] = add("TextControl", textDesc(kEmptyLine), "Distance");
        ctl[25] = add("TextControl", textDesc(kEmptyLine), "Transparency");
        ctl[26] = add("ChoiceControl", listDesc(kModes, 0), "");
        ctl[27] = add("FloatControl", plainDesc(DescFloat), "");
        ctl[28] = add("BoolButtonControl", plainDesc(DescBool), "E");
        ctl[29] = add("PercentControl", rangeDesc(0, 0, 100), "");
        ctl[30] = add("BoolButtonControl", plainDesc(DescBool), "E");
        ctl[31] = add("AreaControl", areaDesc(256, 192), "");
        moveTo(ctl[31], 0, y(ctl[23]));
        ctl[32] = add("AreaControl", areaDesc(256, 5), "");
        moveTo(ctl[32], 0, y(ctl[31]) + getInt(ctl[31], AttrHeight));
        ctl[33] = add("ButtonControl", plainDesc(DescButton), "Preview");
        moveTo(ctl[33], 0, y(ctl[31]) + getInt(ctl[31], AttrHeight) + 10);
        ctl[34] = add("PopupControl", listDesc(kDisplays, 3), "");
        moveTo(ctl[34], right(ctl[33]), y(ctl[33]));
        ctl[35] = add("BoolControl", plainDesc(DescBool), "1/2 res");
        moveTo(ctl[35], right(ctl[34]), y(ctl[33]));

        const int32_t colX = getInt(ctl[23], AttrX) + getInt(ctl[31], AttrWidth);
        for (int i = 23; i <= 25; ++i)
            setInt(ctl[i], AttrX, colX);
        const int32_t fieldX = right(ctl[25]);
        moveTo(ctl[26], fieldX, y(ctl[23]));
        moveTo(ctl[27], fieldX - 6, y(ctl[24]));
        moveTo(ctl[28], fieldX - 6 + getInt(ctl[27], AttrWidth), y(ctl[24]));
        moveTo(ctl[29], fieldX, y(ctl[25]));
        moveTo(ctl[30], fieldX + getInt(ctl[29], AttrWidth), y(ctl[25]));

        for (int i : {2, 3, 4, 5, 6, 33})
            bindEvent(ctl[i], &log);
        for (int i = 7; i <= 21; ++i)
            bindEvent(ctl[i], &log);
        bindDraw(ctl[22], &log);
        bindPress(ctl[28], &size);
        bindPress(ctl[30], &trans);
    }

    void bindPress(ControlHandle h, EnvelopeBench* bench) {
        bindRoutine(h, AttrEventCallback, ControlEventFunc{pressEnvelope}, bench);
    }

    // The index of the control `target` names, or the reason it names none.
    std::string resolve(const std::string& target) {
        const Script s = parseScript("press " + target + "\nok\n", "t");
        std::string why;
        const PanelControl* found = resolveTarget(s.actions[0].target, model(), &why);
        return found != nullptr ? std::to_string(found->index()) : why;
    }

    // Opens the panel with `script` as its user; the answer.
    int32_t open(ScriptedUser& user) {
        host.panelHost.user = &user;
        return services->openPanel(panel, 7);
    }

    Panel& model() { return *Panel::fromHandle(panel); }
    std::vector<int> eventIndices() const {
        std::vector<int> out;
        for (const Call& call : log.calls)
            if (call.routine == "event")
                out.push_back(PanelControl::fromHandle(call.control)->index());
        return out;
    }

    ControlHandle ctl[36] = {};
    CallLog log;
    EnvelopeBench size{"Glow size envelope", "Size", 0.1f};
    EnvelopeBench trans{"Glow trans envelope", "Transparency", 100.0f};
};

TEST(PanelScript, ABadLineIsOneErrorNamingTheScriptTheLineAndItsText) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"tick \"Enable Orvit\" maybe\nok",
         "line 1: tick \"Enable Orvit\" maybe: expected on or off"},
        {"frobnicate\nok", "line 1: frobnicate: unknown action 'frobnicate'"},
        {"\n# a comment\nchoose   # which?\nok", "line 3: choose: expected a control"},
        {"tick \"Enable Orvit on\nok", "line 1: tick \"Enable Orvit on: a label's closing \""},
        {"\"Copy\"\nok", "line 1: \"Copy\": a line starts with what the user does"},
        {"tick key 6 box on\nok", "key rows are numbered 1 to 5, not 6"},
        {"set key 2 knob 3\nok", "line 1: set key 2 knob 3: expected box, colour or position"},
        {"set key 1 colour 1 2 x\nok", "expected a whole number, not 'x'"},
        {"set \"Position\"[0] 5\nok", "expected [N] with N from 1, not [0]"},
        {"type \"Distance\" abc\nok", "expected a number to type, not 'abc'"},
        {"type \"Distance\" inf\nok", "expected a number to type, not 'inf'"},
        {"type \"Distance\"\nok", "expected a number to type"},
        {"press \"E\" then accept 0\nok", "expected a key's value after its time"},
        {"press \"E\" then accept 0 1 2 3\nok", "keys are TIME VALUE pairs separated by commas"},
        {"press \"E\" then maybe\nok",
         "expected accept TIME VALUE, ..., cancel, remove or answer N"},
        {"press \"E\" then answer 1.5\nok", "expected an integer after answer, not '1.5'"},
        {"press \"Copy\" extra\nok", "line 1: press \"Copy\" extra: unexpected 'extra' at the end"},
        {"ok please", "line 1: ok please: nothing may follow ok"},
        {"ok\n\npress \"Copy\"", "line 3: press \"Copy\": the script ended at line 1"},
        {"tick \"Enable Orvit\" on", "script 't.txt': it ends without ok or cancel"},
        {"", "script 't.txt': it ends without ok or cancel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        try {
            parseScript(c.text, "t.txt");
        } catch (const ScriptError& e) {
            error = e.what();
        }
        EXPECT_EQ(error.rfind("script 't.txt'", 0), 0u) << error;
        EXPECT_THAT(error, HasSubstr(c.error));
    }
}

TEST(PanelScript, ReadsEveryActionWithItsValues) {
    const Script s = parseScript("choose \"Special Buffer\" 7   # the second value\r\n"
                                 "choose \"Surface\" \"Comet tail\"\n"
                                 "choose \"Mode\" G-Fixed\n"
                                 "tick key 2 box off\n"
                                 "set key 2 color 255 128 0\n"
                                 "type \"Distance\" -0.25e-1\n"
                                 "press button right of \"Distance\" then accept 0 0.02, 1.5 0.05\n"
                                 "press \"E\"[2] then answer -7\n"
                                 "cancel\n",
                                 "s");
    ASSERT_EQ(s.actions.size(), 9u);
    using Verb = ScriptAction::Verb;
    EXPECT_EQ(s.actions[0].item, "7");
    EXPECT_EQ(s.actions[0].text, "choose \"Special Buffer\" 7");
    EXPECT_EQ(s.actions[1].item, "Comet tail");
    EXPECT_EQ(s.actions[1].line, 2u);
    EXPECT_EQ(s.actions[2].target.label, "Mode");
    EXPECT_EQ(s.actions[3].verb, Verb::Tick);
    EXPECT_FALSE(s.actions[3].on);
    EXPECT_EQ(s.actions[3].target.base, ScriptTarget::Base::Key);
    EXPECT_EQ(s.actions[3].target.key, 2);
    EXPECT_EQ(s.actions[4].target.part, "colour");
    EXPECT_EQ(s.actions[4].ints, (std::vector<int32_t>{255, 128, 0}));
    EXPECT_EQ(s.actions[5].number, -0.025);
    const ScriptAction& press = s.actions[6];
    ASSERT_EQ(press.target.near.size(), 1u);
    EXPECT_EQ(press.target.near[0].kind, "button");
    EXPECT_FALSE(press.target.near[0].left);
    EXPECT_EQ(press.target.label, "Distance");
    EXPECT_TRUE(press.answer.given);
    EXPECT_EQ(press.answer.result, 1);
    ASSERT_EQ(press.answer.keys.size(), 2u);
    EXPECT_EQ(press.answer.keys[1].time, 1.5);
    EXPECT_EQ(press.answer.keys[1].value, 0.05);
    EXPECT_EQ(s.actions[7].target.ordinal, 2);
    EXPECT_EQ(s.actions[7].answer.result, -7);
    EXPECT_FALSE(s.actions[7].answer.replaceKeys);
    EXPECT_EQ(s.actions[8].verb, Verb::Cancel);
}

TEST_F(ScriptedPanel, NamesControlsByLabelByPlaceAndByKeyRow) {
    struct Case {
        const char* target;
        const char* found; // an index, or a piece of the reason
    };
    const Case cases[] = {
        {"\"Enable Orvit\"", "1"},
        {"box left of \"Special Buffer\"", "2"},
        {"\"Special Buffer\"", "3"},
        {"\"Surface\"", "4"},
        {"button right of \"Surface\"", "5"},
        {"\"Paste\"", "6"},
        {"key 1 box", "7"},
        {"key 3 colour", "14"},
        {"key 3 color", "14"},
        {"key 5 position", "21"},
        {"\"Position\"[2]", "12"},
        {"area left of \"Mode\"", "31"},
        {"\"Mode\"", "26"},
        {"\"Distance\"", "27"},
        {"button right of \"Distance\"", "28"},
        {"\"Transparency\"", "29"},
        {"button right of \"Transparency\"", "30"},
        {"\"E\"[1]", "28"},
        {"\"E\"[2]", "30"},
        {"text left of field right of \"Transparency\"", "25"},
        {"\"Preview\"", "33"},
        {"popup right of \"Preview\"", "34"},
        {"\"1/2 res\"", "35"},
        {"\"E\"", "2 controls are labelled \"E\": say which"},
        {"\"enable orvit\"", "no control is labelled \"enable orvit\""},
        {"\"Position\"[6]", "only 5 controls are labelled \"Position\""},
        {"slider left of \"Enable Orvit\"", "no slider stands left of control 1 (BoolControl"},
    };
    for (const Case& c : cases) {
        const std::string found = resolve(c.target);
        EXPECT_THAT(found, HasSubstr(c.found)) << c.target << ": " << found;
        if (std::string(c.found).find_first_not_of("0123456789") == std::string::npos) {
            EXPECT_EQ(found, c.found) << c.target;
        }
    }
}

TEST_F(ScriptedPanel, EachActionChecksItsControlAndValueBeforeAnyRuns) {
    struct Case {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"tick \"Special Buffer\" on", "the control is a popup (PopupControl): tick is for boxes"},
        {"choose \"Special Buffer\" 9", "no item \"9\" (the items: 3, 7, 12)"},
        {"choose \"Enable Orvit\" 3", "choose is for popups"},
        {"set key 1 colour 1 2 300", "colour values are 0 to 255, not 300"},
        {"set key 1 colour 1 2", "a colour takes three numbers"},
        {"set key 1 position 101", "the slider goes from 0 to 100, not 101"},
        {"set key 1 box 1", "set is for colours and sliders"},
        {"type \"Transparency\" 150", "the field takes 0 to 100"},
        {"type key 1 colour 3", "type is for number fields"},
        {"press \"Surface\"", "press is for buttons"},
        {"press \"Nothing\"", "no control is labelled \"Nothing\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        // A good line first: it must not run when a later one is bad.
        ScriptedUser user(parseScript(std::string("press \"Copy\"\n") + c.line + "\nok\n", "s"));
        EXPECT_EQ(open(user), 0);
        const std::string start = std::string("script 's' line 2: ") + c.line + ": ";
        EXPECT_EQ(user.error().rfind(start, 0), 0u) << user.error();
        EXPECT_THAT(user.error(), HasSubstr(c.error));
        EXPECT_TRUE(log.calls.empty());
    }
}

TEST_F(ScriptedPanel, RunsTheActionsInOrderThenAnswersAsTheLastLine) {
    ScriptedUser user(parseScript("choose \"Special Buffer\" 12\n"
                                  "tick box left of \"Special Buffer\" on\n"
                                  "choose \"Surface\" crate\n"
                                  "set key 2 colour 255 128 0\n"
                                  "set key 2 position 40\n"
                                  "tick key 2 box on\n"
                                  "choose \"Mode\" G-Depth\n"
                                  "type \"Distance\" 0.08\n"
                                  "type \"Transparency\" 35.5\n"
                                  "tick \"Enable Orvit\" on\n"
                                  "choose popup right of \"Preview\" Special\n"
                                  "tick \"1/2 res\" on\n"
                                  "press \"Copy\"\n"
                                  "press \"Paste\"\n"
                                  "press \"Preview\"\n"
                                  "ok\n",
                                  "s"));
    EXPECT_EQ(open(user), 1);
    EXPECT_EQ(user.error(), "");
    // Only the controls with a callback report; typed fields and the
    // unbound boxes and popups just take their values.
    EXPECT_EQ(eventIndices(), (std::vector<int>{3, 2, 4, 11, 12, 10, 5, 6, 33}));
    EXPECT_EQ(log.calls[0].value, 2) << "the popup's index, set before its callback";
    EXPECT_EQ(getInt(ctl[2], AttrValue), 1);
    EXPECT_EQ(getInt(ctl[4], AttrValue), 1);
    ControlValue rgb{};
    rgb.type = ValueIntVector;
    ctl[11]->getControlAttr(ctl[11], AttrValue, &rgb);
    EXPECT_EQ(rgb.intVector[1], 128);
    EXPECT_EQ(getInt(ctl[12], AttrValue), 40);
    EXPECT_EQ(getInt(ctl[26], AttrValue), 3);
    EXPECT_EQ(getReal(ctl[27]), 0.08);
    EXPECT_EQ(getReal(ctl[29]), 35.5);
    EXPECT_EQ(getInt(ctl[1], AttrValue), 1);
    EXPECT_EQ(getInt(ctl[34], AttrValue), 2);
    EXPECT_EQ(getInt(ctl[35], AttrValue), 1);
    EXPECT_EQ(model().faults, std::vector<std::string>{});

    // Each opening runs the script again; Cancel answers 0.
    ScriptedUser cancel(parseScript("press \"Copy\"\ncancel\n", "c"));
    EXPECT_EQ(open(cancel), 0);
    EXPECT_EQ(open(cancel), 0);
    EXPECT_EQ(cancel.runs(), 2);
    EXPECT_EQ(cancel.error(), "");
    EXPECT_EQ(eventIndices().size(), 11u);
}

TEST_F(ScriptedPanel, AGhostedControlStopsTheScriptWithCancel) {
    ScriptedUser user(parseScript("press \"Copy\"\n"
                                  "type \"Distance\" 0.1\n"
                                  "press \"Paste\"\n"
                                  "ok\n",
                                  "s"));
    ctl[27]->drawControl(ctl[27], DrawGhosted);
    EXPECT_EQ(open(user), 0);
    EXPECT_EQ(user.error(), "script 's' line 2: type \"Distance\" 0.1: the control is ghosted: a "
                            "user cannot change it");
    EXPECT_EQ(eventIndices(), std::vector<int>{5});
    EXPECT_EQ(getReal(ctl[27]), 0.0);
}

TEST_F(ScriptedPanel, TheEnvelopeEditorAnswersAsThePressLineSays) {
    struct Case {
        const char* answer;
        int32_t result;
        std::vector<Key> keys; // the size envelope's afterwards; empty: none
    };
    const std::vector<Key> start = {{0.0, 0.01}, {2.0, 0.03}};
    const Case cases[] = {
        {"accept 0 0.02, 1 0.05", 1, {{0.0, 0.02}, {1.0, 0.05}}},
        {"accept 1 0.1, 0 0", 1, {{0.0, 0.0}, {1.0, 0.1}}},
        {"cancel", 0, start},
        {"remove", -1, {}},
        {"answer 1", 1, start},
        {"answer 5", 5, start},
        {"answer -2", -2, start},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        destroyEnvelope(size.current);
        size.current = makeEnvelope(start);
        size.results.clear();
        const size_t envelopes = liveEnvelopes();
        ScriptedUser user(parseScript(
            std::string("press button right of \"Distance\" then ") + c.answer + "\nok\n", "s"));
        EXPECT_EQ(open(user), 1);
        EXPECT_EQ(user.error(), "");
        EXPECT_EQ(size.results, std::vector<int32_t>{c.result});
        const Envelope* e = findEnvelope(size.current);
        ASSERT_EQ(e != nullptr, !c.keys.empty());
        if (e != nullptr) {
            ASSERT_EQ(e->keys().size(), c.keys.size());
            for (size_t i = 0; i < c.keys.size(); ++i) {
                EXPECT_EQ(e->keys()[i].time, c.keys[i].time);
                EXPECT_EQ(e->keys()[i].value, c.keys[i].value);
            }
        }
        EXPECT_EQ(liveEnvelopes(), envelopes - (c.result == -1 ? 1 : 0));
        ASSERT_EQ(user.editorRequests().size(), 1u);
        const EditorRequestSeen& seen = user.editorRequests()[0];
        EXPECT_EQ(seen.line, 1u);
        EXPECT_EQ(seen.title, "Glow size envelope");
        EXPECT_EQ(seen.label, "Size");
        EXPECT_EQ(seen.low, 0.0f);
        EXPECT_EQ(seen.high, 0.1f);
        EXPECT_EQ(seen.panelServices, services);
        EXPECT_TRUE(seen.restZero);
        EXPECT_EQ(seen.answer, c.result);
    }

    // The transparency editor takes values up to 100 and sees its own request.
    trans.dirtyTail = true;
    ScriptedUser user(parseScript("press \"E\"[2] then accept 0 100, 1 0\nok\n", "s"));
    EXPECT_EQ(open(user), 1);
    ASSERT_NE(findEnvelope(trans.current), nullptr);
    EXPECT_EQ(findEnvelope(trans.current)->keys().size(), 2u);
    ASSERT_EQ(user.editorRequests().size(), 1u);
    EXPECT_EQ(user.editorRequests()[0].title, "Glow trans envelope");
    EXPECT_EQ(user.editorRequests()[0].label, "Transparency");
    EXPECT_EQ(user.editorRequests()[0].high, 100.0f);
    EXPECT_FALSE(user.editorRequests()[0].restZero);

    // Outside a script run the editor cancels and leaves the envelope be.
    EnvelopeEditRequest request{};
    EnvelopeHandle e = makeEnvelope({{0.0, 1.0}});
    EXPECT_EQ(envelopeService()->editEnvelope(e, &request), 0);
    EXPECT_EQ(findEnvelope(e)->keys().size(), 1u);
    EXPECT_EQ(envelopeService()->editEnvelope(e, nullptr), 0);
    destroyEnvelope(e);
}

TEST_F(ScriptedPanel, AnEditorTheLineDoesNotAnswerRightStopsTheScript) {
    struct Case {
        const char* line;
        const char* error;
        int32_t moduleGot; // -100: the editor did not open
    };
    const Case cases[] = {
        {"press button right of \"Distance\"",
         "the press opened the envelope editor \"Glow size envelope\", which the line does not "
         "answer",
         0},
        {"press button right of \"Distance\" then accept 0 0.02, 1 0.5",
         "the envelope editor \"Glow size envelope\" takes \"Size\" values from 0 to 0.1", 0},
        {"press button right of \"Transparency\" then accept 0 -1",
         "the envelope editor \"Glow trans envelope\" takes \"Transparency\" values from 0 to 100",
         0},
        {"press \"Copy\" then cancel",
         "the line answers an envelope editor, but the press opened none", -100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        size.results.clear();
        trans.results.clear();
        ScriptedUser user(parseScript(std::string(c.line) + "\npress \"Paste\"\nok\n", "s"));
        EXPECT_EQ(open(user), 0);
        EXPECT_EQ(
            user.error().rfind(std::string("script 's' line 1: ") + c.line + ": " + c.error, 0), 0u)
            << user.error();
        std::vector<int32_t> got = size.results;
        got.insert(got.end(), trans.results.begin(), trans.results.end());
        EXPECT_EQ(got,
                  c.moduleGot == -100 ? std::vector<int32_t>{} : std::vector<int32_t>{c.moduleGot});
        EXPECT_EQ(size.current, nullptr);
        EXPECT_EQ(trans.current, nullptr);
        for (const int index : eventIndices())
            EXPECT_NE(index, 6) << "the line after the error ran";
    }
}

} // namespace

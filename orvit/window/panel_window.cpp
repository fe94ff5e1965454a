#include "orvit/window/panel_window.h"

#include "orvit/window/look.h"
#include "orvit/window/modal.h"

#include <FL/Fl.H>
#include <FL/Fl_Return_Button.H>

#include <algorithm>
#include <exception>

namespace orvit::window {

using panel::Panel;
using panel::PanelControl;

namespace {

void onOk(Fl_Widget*, void* data) {
    auto* window = static_cast<PanelWindow*>(data);
    orCancel(*window, [&] { window->close(1); });
}

// The cancel button, the close box and Escape.
void onCancel(Fl_Widget*, void* data) {
    static_cast<PanelWindow*>(data)->close(0);
}

} // namespace

// ---- The window -------------------------------------------------------------

namespace {

int windowWidth(panel::Panel& panel) {
    return std::max(panel.canvas().width, kMinWindowWidth);
}

int panelHeight(panel::Panel& panel) {
    return panel.canvas().height;
}

} // namespace

PanelWindow::PanelWindow(panel::Panel& panel)
    : Fl_Double_Window(windowWidth(panel), panelHeight(panel) + kBarHeight), panel_(panel) {
    copy_label(panel.title().c_str());
    color(panelColour());
    for (const auto& c : panel.controls())
        widgets_.push_back(std::make_unique<ControlWidgets>(*this, *c));
    const int bar = panelHeight(panel);
    auto* rule = new Fl_Box(0, bar, w(), 2);
    rule->box(FL_THIN_DOWN_FRAME);
    cancel_ = new Fl_Button(w() - 10 - kButtonWidth, bar + 10, kButtonWidth, 26, "Cancel");
    ok_ = new Fl_Return_Button(cancel_->x() - 10 - kButtonWidth, bar + 10, kButtonWidth, 26, "OK");
    styleText(cancel_);
    styleText(ok_);
    ok_->callback(onOk, this);
    cancel_->callback(onCancel, this);
    end();
    callback(onCancel, this);
    for (auto& w : widgets_)
        w->sync();
    panel_.view = this;
}

PanelWindow::~PanelWindow() {
    if (panel_.view == this)
        panel_.view = nullptr;
}

ControlWidgets* PanelWindow::widgetsOf(const panel::PanelControl& control) const {
    for (const auto& w : widgets_)
        if (&w->control() == &control)
            return w.get();
    return nullptr;
}

void PanelWindow::close(int32_t answer) {
    if (answer != 0 && panel_.live())
        for (size_t k = 0; k < widgets_.size(); ++k)
            widgets_[k]->commit();
    answer_ = answer;
    hide();
}

void PanelWindow::sync() {
    const auto& controls = panel_.controls();
    if (widgets_.size() < controls.size()) {
        begin();
        for (size_t k = widgets_.size(); k < controls.size(); ++k)
            widgets_.push_back(std::make_unique<ControlWidgets>(*this, *controls[k]));
        end();
    }
    for (auto& w : widgets_)
        w->sync();
}

void PanelWindow::userActed() {
    if (!panel_.live()) {
        close(0);
        return;
    }
    sync();
}

bool PanelWindow::mayDrawAreas() const {
    return !painting_ && panel_.busy() == 0 && panel_.live();
}

void PanelWindow::controlDrawn(panel::PanelControl& control) {
    if (painting_)
        return;
    if (ControlWidgets* w = widgetsOf(control))
        w->sync();
    else
        sync();
}

void PanelWindow::panelDrawn() {
    if (!painting_)
        sync();
}

// ---- The user ---------------------------------------------------------------

WindowUser::WindowUser(FrameSpan frames) : editor_(frames) {}

int32_t WindowUser::run(panel::Panel& panel, int32_t) {
    error_.clear();
    // The editor is a window while this user is at the panel.
    const core::EnvelopeEditorInPlace editorInPlace(&editor_);
    try {
        PanelWindow window(panel);
        runModal(window, onOpen, [this](const std::exception& e) { error_ = e.what(); });
        return window.answer();
    } catch (const std::exception& e) {
        error_ = e.what();
        return 0;
    }
}

} // namespace orvit::window

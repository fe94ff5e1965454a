#include "orvit/window/envelope_window.h"

#include "orvit/window/look.h"
#include "orvit/window/modal.h"

#include <FL/Fl.H>
#include <FL/Fl_Float_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvit::window {

using core::Key;

namespace {

constexpr int kWidth = 560;
constexpr int kHeight = 470;

// The columns of the key table: frame, time, value.
const int kColumns[] = {70, 110, 0};

std::string keyText(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

EnvelopeWindow& owner(void* data) {
    return *static_cast<EnvelopeWindow*>(data);
}

void onRow(Fl_Widget*, void* data) {
    orCancel(owner(data), [&] { owner(data).rowSelected(); });
}
void onAdd(Fl_Widget*, void* data) {
    orCancel(owner(data), [&] { owner(data).addKey(); });
}
void onChange(Fl_Widget*, void* data) {
    orCancel(owner(data), [&] { owner(data).changeKey(); });
}
void onDelete(Fl_Widget*, void* data) {
    orCancel(owner(data), [&] { owner(data).deleteKey(); });
}
void onOk(Fl_Widget*, void* data) {
    owner(data).close(1);
}
void onCancel(Fl_Widget*, void* data) {
    owner(data).close(0);
}
void onRemove(Fl_Widget*, void* data) {
    owner(data).close(-1);
}

// The curve over the scene's frames. The value axis runs from the request's
// low (bottom) to its high (top), widened to hold every key so that no part
// of the curve is hidden; values outside the request's range are shaded. A
// click puts the time and value under the pointer into the fields.
class EnvelopePlot : public Fl_Widget {
  public:
    EnvelopePlot(int x, int y, int w, int h, EnvelopeWindow& window)
        : Fl_Widget(x, y, w, h), window_(window) {}

    void draw() override;
    int handle(int event) override;

  private:
    // The plot area in window pixels and the times and values it spans,
    // taken from the window's keys once for a drawing or a click.
    struct Axes {
        int left, right, top, bottom;
        double startTime, endTime, lowest, highest;

        double xOf(double time) const {
            return left + (time - startTime) / (endTime - startTime) * (right - left);
        }
        double yOf(double value) const {
            const double u = (value - lowest) / (highest - lowest);
            return bottom - u * (bottom - top);
        }
        int pixelY(double value) const { return static_cast<int>(std::lround(yOf(value))); }
        double timeAt(int px) const {
            return startTime + (px - left) * (endTime - startTime) / (right - left);
        }
        double valueAt(int py) const {
            const double u = static_cast<double>(bottom - py) / (bottom - top);
            return lowest + u * (highest - lowest);
        }
    };
    Axes axes() const;

    EnvelopeWindow& window_;
};

EnvelopePlot::Axes EnvelopePlot::axes() const {
    Axes a;
    a.left = x() + 56;
    a.right = x() + w() - 14;
    a.top = y() + 14;
    a.bottom = y() + h() - 26;
    const FrameSpan f = window_.frames();
    a.startTime = f.first / f.rate;
    const double end = f.last / f.rate;
    a.endTime = end > a.startTime ? end : a.startTime + 1.0 / f.rate;
    a.lowest = window_.low();
    double high = window_.high();
    for (const core::Key& k : window_.keys()) {
        a.lowest = std::min(a.lowest, k.value);
        high = std::max(high, k.value);
    }
    a.highest = high > a.lowest ? high : a.lowest + 1.0;
    return a;
}

void EnvelopePlot::draw() {
    const Axes a = axes();
    fl_push_clip(x(), y(), w(), h());
    fl_color(fl_rgb_color(236, 236, 236));
    fl_rectf(x(), y(), w(), h());
    // The request's range in white.
    const int rangeTop = std::max(a.pixelY(window_.high()), a.top);
    const int rangeBottom = std::min(a.pixelY(window_.low()), a.bottom);
    fl_color(FL_WHITE);
    fl_rectf(a.left, rangeTop, a.right - a.left + 1, rangeBottom - rangeTop + 1);
    fl_font(FL_HELVETICA, kTextSize - 1);

    // Value grid in quarters, labelled at the ends and the middle.
    for (int i = 0; i <= 4; ++i) {
        const double v = a.lowest + (a.highest - a.lowest) * i / 4.0;
        const int py = a.pixelY(v);
        fl_color(i % 2 == 0 ? fl_rgb_color(200, 200, 200) : fl_rgb_color(228, 228, 228));
        fl_line(a.left, py, a.right, py);
        if (i % 2 == 0) {
            char text[32];
            std::snprintf(text, sizeof text, "%.4g", v);
            fl_color(FL_DARK3);
            fl_draw(text, x() + 2, py - 7, a.left - x() - 6, 14, FL_ALIGN_RIGHT);
        }
    }
    // Frame ticks, labelled often enough to read.
    const FrameSpan f = window_.frames();
    const int frames = std::max(f.last - f.first, 1);
    const int every = std::max(1, static_cast<int>(std::ceil(frames * 40.0 / (a.right - a.left))));
    for (int frame = f.first; frame <= std::max(f.last, f.first + 1); ++frame) {
        const int px = static_cast<int>(std::lround(a.xOf(frame / f.rate)));
        fl_color(fl_rgb_color(228, 228, 228));
        fl_line(px, a.top, px, a.bottom);
        fl_color(FL_DARK3);
        fl_line(px, a.bottom, px, a.bottom + 4);
        if ((frame - f.first) % every == 0)
            fl_draw(std::to_string(frame).c_str(), px - 20, a.bottom + 5, 40, 14, FL_ALIGN_CENTER);
    }
    fl_color(FL_DARK3);
    fl_draw("frame", a.left, y() + h() - 13, a.right - a.left, 12, FL_ALIGN_RIGHT);
    fl_draw(window_.valueLabel().c_str(), x() + 4, y() + 1, w() - 8, 12,
            FL_ALIGN_LEFT | FL_ALIGN_CLIP);
    fl_rect(a.left, a.top, a.right - a.left + 1, a.bottom - a.top + 1);

    // The curve, one point per pixel column, and the keys.
    fl_push_clip(a.left, a.top, a.right - a.left + 1, a.bottom - a.top + 1);
    const std::vector<core::Key>& keys = window_.keys();
    fl_color(fl_rgb_color(30, 70, 160));
    fl_line_style(FL_SOLID, 2);
    fl_begin_line();
    for (int px = a.left; px <= a.right; ++px)
        fl_vertex(px, a.yOf(core::evaluateKeys(keys, a.timeAt(px))));
    fl_end_line();
    fl_line_style(0);
    fl_color(fl_rgb_color(220, 90, 20));
    for (const core::Key& k : keys) {
        const int px = static_cast<int>(std::lround(a.xOf(k.time)));
        fl_rectf(px - 3, a.pixelY(k.value) - 3, 7, 7);
    }
    fl_pop_clip();
    fl_pop_clip();
}

int EnvelopePlot::handle(int event) {
    if (event != FL_PUSH)
        return Fl_Widget::handle(event);
    const Axes a = axes();
    const int px = Fl::event_x(), py = Fl::event_y();
    if (px < a.left || px > a.right || py < a.top || py > a.bottom)
        return 1;
    // Rounded to what a person would type.
    char text[40];
    std::snprintf(text, sizeof text, "%.4g", a.timeAt(px));
    window_.timeField->value(text);
    std::snprintf(text, sizeof text, "%.3g", a.valueAt(py));
    window_.valueField->value(text);
    return 1;
}

} // namespace

EnvelopeWindow::EnvelopeWindow(const std::vector<core::Key>& keys,
                               const EnvelopeEditRequest& request, FrameSpan frames)
    : Fl_Double_Window(kWidth, kHeight), keys_(core::orderedKeys(keys)),
      valueLabel_(request.label != nullptr ? request.label : ""),
      escapedValueLabel_(escapedLabel(valueLabel_, false)), low_(request.low), high_(request.high),
      frames_(frames) {
    if (!(frames_.rate > 0.0) || !std::isfinite(frames_.rate))
        frames_.rate = 24.0;
    copy_label(request.title != nullptr ? request.title : "");
    plot_ = new EnvelopePlot(10, 10, kWidth - 20, 220, *this);
    plot_->box(FL_DOWN_FRAME);

    // The table and its header.
    auto* frameHead = new Fl_Box(14, 240, kColumns[0], 20, "Frame");
    auto* timeHead = new Fl_Box(14 + kColumns[0], 240, kColumns[1], 20, "Time (s)");
    auto* valueHead =
        new Fl_Box(14 + kColumns[0] + kColumns[1], 240, 100, 20, escapedValueLabel_.c_str());
    for (Fl_Box* b : {frameHead, timeHead, valueHead}) {
        b->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
        b->labelfont(FL_HELVETICA_BOLD);
        b->labelsize(kTextSize);
    }
    table = new Fl_Hold_Browser(10, 260, 300, 150);
    table->column_widths(kColumns);
    table->column_char('\t');
    table->textsize(kTextSize);
    table->callback(onRow, this);

    // The fields and the key buttons.
    const int fx = 400, fw = kWidth - 10 - fx;
    timeField = new Fl_Float_Input(fx, 260, fw, 24, "Time (s)");
    valueField = new Fl_Float_Input(fx, 290, fw, 24, escapedValueLabel_.c_str());
    for (Fl_Input* field : {timeField, valueField}) {
        styleText(field);
        field->when(FL_WHEN_NEVER);
    }
    addButton = new Fl_Button(324, 324, 70, 26, "Add");
    changeButton = new Fl_Button(402, 324, 70, 26, "Change");
    deleteButton = new Fl_Button(480, 324, 70, 26, "Delete");
    addButton->callback(onAdd, this);
    changeButton->callback(onChange, this);
    deleteButton->callback(onDelete, this);
    status_ = new Fl_Box(324, 356, kWidth - 10 - 324, 54);
    status_->align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    status_->labelcolor(fl_rgb_color(170, 20, 20));

    auto* rule = new Fl_Box(0, kHeight - 46, kWidth, 2);
    rule->box(FL_THIN_DOWN_FRAME);
    removeButton = new Fl_Button(10, kHeight - 36, kButtonWidth, 26, "Remove");
    removeButton->tooltip("Remove the envelope: the value is no longer keyed over time");
    cancelButton =
        new Fl_Button(kWidth - 10 - kButtonWidth, kHeight - 36, kButtonWidth, 26, "Cancel");
    okButton = new Fl_Return_Button(cancelButton->x() - 10 - kButtonWidth, kHeight - 36,
                                    kButtonWidth, 26, "OK");
    okButton->callback(onOk, this);
    cancelButton->callback(onCancel, this);
    removeButton->callback(onRemove, this);
    for (Fl_Widget* w : {static_cast<Fl_Widget*>(addButton), static_cast<Fl_Widget*>(changeButton),
                         static_cast<Fl_Widget*>(deleteButton), static_cast<Fl_Widget*>(status_),
                         static_cast<Fl_Widget*>(removeButton),
                         static_cast<Fl_Widget*>(cancelButton), static_cast<Fl_Widget*>(okButton)})
        styleText(w);
    end();
    callback(onCancel, this);
    showKeys(0);
    if (!keys_.empty())
        rowSelected();
}

size_t EnvelopeWindow::selected() const {
    const int row = table->value();
    return row >= 1 && static_cast<size_t>(row) <= keys_.size() ? static_cast<size_t>(row - 1)
                                                                : keys_.size();
}

void EnvelopeWindow::showKeys(size_t select) {
    table->clear();
    for (const core::Key& k : keys_) {
        char frame[40];
        std::snprintf(frame, sizeof frame, "%.4g", k.time * frames_.rate);
        table->add((std::string(frame) + "\t" + keyText(k.time) + "\t" + keyText(k.value)).c_str());
    }
    if (select < keys_.size())
        table->select(static_cast<int>(select) + 1);
    plot_->redraw();
}

void EnvelopeWindow::rowSelected() {
    const size_t n = selected();
    if (n == keys_.size())
        return;
    timeField->value(keyText(keys_[n].time).c_str());
    valueField->value(keyText(keys_[n].value).c_str());
}

// Values outside the request's range are refused, as the module asks.
bool EnvelopeWindow::readFields(core::Key* key) {
    refusal_.clear();
    if (!parseReal(timeField->value(), &key->time))
        refusal_ = "The time is not a number.";
    else if (!parseReal(valueField->value(), &key->value))
        refusal_ = valueLabel_ + " is not a number.";
    else if (!(key->value >= low_ && key->value <= high_))
        refusal_ = valueLabel_ + " takes values from " + numberText(low_) + " to " +
                   numberText(high_) + ".";
    status_->copy_label(refusal_.c_str());
    return refusal_.empty();
}

// A key of the same time as others goes after them, as the keys' own order
// has it.
void EnvelopeWindow::putKey(const core::Key& key) {
    keys_.push_back(key);
    keys_ = core::orderedKeys(keys_);
    size_t at = 0;
    for (size_t n = 0; n < keys_.size(); ++n)
        if (keys_[n].time <= key.time)
            at = n;
    showKeys(at);
}

void EnvelopeWindow::addKey() {
    core::Key key{};
    if (!readFields(&key))
        return;
    putKey(key);
}

void EnvelopeWindow::changeKey() {
    const size_t n = selected();
    if (n == keys_.size()) {
        refusal_ = "Select the key to change.";
        status_->copy_label(refusal_.c_str());
        return;
    }
    core::Key key{};
    if (!readFields(&key))
        return;
    keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(n));
    putKey(key);
}

void EnvelopeWindow::deleteKey() {
    const size_t n = selected();
    if (n == keys_.size())
        return;
    refusal_.clear();
    status_->copy_label("");
    keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(n));
    showKeys(std::min(n, keys_.empty() ? 0 : keys_.size() - 1));
    rowSelected();
}

void EnvelopeWindow::close(int32_t answer) {
    answer_ = answer;
    hide();
}

// ---- The editor ---------------------------------------------------------------

int32_t WindowEnvelopeEditor::edit(core::Envelope& envelope, const EnvelopeEditRequest& request) {
    EnvelopeWindow window(envelope.keys(), request, frames_);
    runModal(window, onOpen);
    if (window.answer() == 1)
        envelope.setKeys(window.keys());
    return window.answer();
}

} // namespace orvit::window

#include "orvit/window/look.h"

#include <FL/Fl_Input_.H>
#include <FL/Fl_Menu_.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace orvit::window {

namespace {

bool onlyBlanks(const char* text) {
    while (*text == ' ' || *text == '\t')
        ++text;
    return *text == '\0';
}

} // namespace

Fl_Color panelColour() {
    const auto& bg = panel::kCanvasBackground;
    return fl_rgb_color(bg[0], bg[1], bg[2]);
}

void paintCanvas(const panel::Canvas& canvas, int x, int y, int w, int h) {
    const auto& bg = panel::kCanvasBackground;
    fl_color(bg[0], bg[1], bg[2]);
    fl_rectf(x, y, w, h);
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + w, canvas.width), y1 = std::min(y + h, canvas.height);
    if (x1 > x0 && y1 > y0)
        fl_draw_image(&canvas.rgb[(static_cast<size_t>(y0) * canvas.width + x0) * 3], x0, y0,
                      x1 - x0, y1 - y0, 3, canvas.width * 3);
}

namespace {

// Labels are not made smaller than this to fit.
constexpr int kSmallestText = 8;

} // namespace

int LabelBox::shownSize() const {
    int size = labelsize();
    fl_font(labelfont(), size);
    while (size > kSmallestText && fl_width(label()) > w()) {
        --size;
        fl_font(labelfont(), size);
    }
    return size;
}

void LabelBox::draw() {
    fl_font(labelfont(), shownSize());
    fl_color(active_r() ? labelcolor() : fl_inactive(labelcolor()));
    fl_push_clip(x(), y(), w(), h());
    fl_draw(label(), x(), y(), w(), h(), FL_ALIGN_LEFT);
    fl_pop_clip();
}

void styleText(Fl_Widget* widget) {
    widget->labelsize(kTextSize);
    widget->labelfont(FL_HELVETICA);
    if (auto* input = dynamic_cast<Fl_Input_*>(widget))
        input->textsize(kTextSize);
    if (auto* menu = dynamic_cast<Fl_Menu_*>(widget))
        menu->textsize(kTextSize);
}

std::string escapedLabel(const std::string& text, bool shortcuts) {
    std::string out;
    for (char c : text) {
        if (c == '@' || (shortcuts && c == '&'))
            out += c;
        out += c;
    }
    return out;
}

std::string numberText(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

bool parseReal(const char* text, double* value) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || errno != 0 || !std::isfinite(v) || !onlyBlanks(end))
        return false;
    *value = v;
    return true;
}

bool parseWhole(const char* text, long* value) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || errno != 0 || !onlyBlanks(end))
        return false;
    *value = v;
    return true;
}

} // namespace orvit::window

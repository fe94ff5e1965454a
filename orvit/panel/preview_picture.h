// The panel's preview area as a picture: the 256 x 192 pixels of the canvas
// where the module paints its preview of the last frame, exactly as painted.
#pragma once

#include "orvit/panel/panel_host.h"
#include "orvit/panel/panel_model.h"

#include <cstdint>

namespace orvit::panel {

constexpr int32_t kPreviewWidth = 256;
constexpr int32_t kPreviewHeight = 192;

// The same three bytes a pixel as the panel's canvas.
using Picture = Canvas;

// The preview area: the first area control of 256 x 192 pixels; null when
// the panel has none.
PanelControl* findPreviewArea(Panel& panel);

// The canvas pixels an area control's drawing covers: from its origin, as
// wide and high as its descriptor's area.
Picture areaPicture(Panel& panel, const PanelControl& area);

// Answers an open panel as `user` does; then, while the panel is still open,
// has the module draw the preview area once more (drawControl, Refresh, as a
// window repaints an area once a popup's menu closes over it) and keeps what
// the area then shows. So the picture follows the display choice and the
// "1/2 res" box as the user left them.
class PreviewTaker : public PanelUser {
  public:
    explicit PreviewTaker(PanelUser& user) : user_(user) {}

    int32_t run(Panel& panel, int32_t flags) override;

    // False when no panel ran, or it had no preview area or was gone when
    // the user answered.
    bool taken() const { return taken_; }
    const Picture& picture() const { return picture_; }
    // Drawing calls of the last redraw of the area.
    const DrawCounts& redrawCalls() const { return calls_; }

  private:
    PanelUser& user_;
    bool taken_ = false;
    Picture picture_;
    DrawCounts calls_;
};

} // namespace orvit::panel

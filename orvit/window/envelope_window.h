// The envelope editor in a window: the request's title and value label, the
// curve plotted over the scene's frames between the request's low and high,
// a table of keys to add, change and delete, and OK (1), Cancel (0) and
// Remove (-1). It starts from the envelope it is given and changes it only
// on OK.
#pragma once

#include "module/abi/envelope.h"
#include "orvit/core/envelopes.h"
#include "orvit/core/keys.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Input.H>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvit::window {

// The scene's frames: frame f starts at f / rate seconds.
struct FrameSpan {
    int first = 0;
    int last = 0;
    double rate = 24.0;
};

class EnvelopeWindow : public Fl_Double_Window {
  public:
    EnvelopeWindow(const std::vector<core::Key>& keys, const EnvelopeEditRequest& request,
                   FrameSpan frames);
    EnvelopeWindow(const EnvelopeWindow&) = delete;
    EnvelopeWindow& operator=(const EnvelopeWindow&) = delete;

    // The keys as edited so far, ordered by time.
    const std::vector<core::Key>& keys() const { return keys_; }
    const std::string& valueLabel() const { return valueLabel_; }
    double low() const { return low_; }
    double high() const { return high_; }
    FrameSpan frames() const { return frames_; }

    // 1 OK, 0 Cancel or the close box, -1 Remove.
    int32_t answer() const { return answer_; }
    // What the last Add or Change refused, or empty.
    const std::string& refusal() const { return refusal_; }

    // One row per key: frame, time in seconds and value. Selecting a row
    // puts its key into the two fields.
    Fl_Hold_Browser* table = nullptr;
    Fl_Input* timeField = nullptr;  // seconds
    Fl_Input* valueField = nullptr; // in the request's value label
    Fl_Button* addButton = nullptr;
    Fl_Button* changeButton = nullptr;
    Fl_Button* deleteButton = nullptr;
    Fl_Button* okButton = nullptr;
    Fl_Button* cancelButton = nullptr;
    Fl_Button* removeButton = nullptr;

    // The buttons' and the table's actions.
    void rowSelected();
    void addKey();
    void changeKey();
    void deleteKey();
    void close(int32_t answer);

  private:
    bool readFields(core::Key* key);
    // Puts `key` among the keys in time order and selects its row.
    void putKey(const core::Key& key);
    void showKeys(size_t select);
    // Selected key index, or keys_.size() for none.
    size_t selected() const;

    std::vector<core::Key> keys_;
    std::string valueLabel_;
    std::string escapedValueLabel_; // as the table's head and the field show it
    double low_;
    double high_;
    FrameSpan frames_;
    int32_t answer_ = 0;
    std::string refusal_;
    Fl_Box* status_ = nullptr;
    Fl_Widget* plot_ = nullptr;
};

// The editor behind the envelope service while a window user runs.
class WindowEnvelopeEditor : public core::EnvelopeEditor {
  public:
    explicit WindowEnvelopeEditor(FrameSpan frames) : frames_(frames) {}

    // A modal window on `envelope`: 1 (the envelope takes the edited keys),
    // 0 or -1 (the envelope is left as it is).
    int32_t edit(core::Envelope& envelope, const EnvelopeEditRequest& request) override;

    // Called from inside the editor's event loop once it is shown; see
    // WindowUser::onOpen.
    std::function<void(EnvelopeWindow&)> onOpen;

  private:
    FrameSpan frames_;
};

} // namespace orvit::window

#include "module/panel/settings_panel.h"

#include "module/panel/callbacks.h"
#include "module/panel/control_descs.h"
#include "module/panel/panel_preview.h"
#include "module/panel/panel_state.h"
#include "module/services/services.h"
#include "module/settings/surface_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace orvit {

namespace {

constexpr int32_t kLabelBytes = 10;
constexpr int32_t kPercentWidth = 100; // the transparency slider's width

const char* const kModeItems[] = {"Fixed", "Depth", "G-Fixed", "G-Depth", nullptr};
const char* const kDisplayItems[] = {"Color", "Depth", "Special", "Preview", nullptr};
const char* const kOneEmptyLine[] = {"", nullptr};

// The popup item lists the panel owns while it is open.
struct ItemLists {
    char** specialValueLabels = nullptr; // count + 1, each a buffer of its own
    const char** surfaceNames = nullptr; // count + 1, pointing at the table's names
    int32_t labelCount = 0;

    void release() {
        std::free(surfaceNames);
        surfaceNames = nullptr;
        for (int32_t i = 0; i < labelCount && specialValueLabels != nullptr; ++i)
            std::free(specialValueLabels[i]);
        std::free(specialValueLabels);
        specialValueLabels = nullptr;
        labelCount = 0;
    }
};

// "%3d " of each special value, null-terminated.
bool buildSpecialValueLabels(const FilterInstance* instance, ItemLists* lists) {
    const int32_t count = instance->specialValueCount;
    lists->specialValueLabels =
        static_cast<char**>(std::calloc(static_cast<size_t>(count) + 1, sizeof(char*)));
    if (lists->specialValueLabels == nullptr)
        return false;
    for (int32_t i = 0; i < count; ++i) {
        char* label = static_cast<char*>(std::malloc(kLabelBytes));
        if (label == nullptr)
            return false;
        lists->specialValueLabels[i] = label;
        lists->labelCount = i + 1;
        std::snprintf(label, kLabelBytes, "%3d ", static_cast<int>(instance->specialValues[i]));
    }
    return true;
}

bool buildSurfaceNames(const FilterInstance* instance, ItemLists* lists) {
    const int32_t count = instance->surfaceCount;
    lists->surfaceNames =
        static_cast<const char**>(std::calloc(static_cast<size_t>(count) + 1, sizeof(const char*)));
    if (lists->surfaceNames == nullptr)
        return false;
    for (int32_t i = 0; i < count; ++i)
        lists->surfaceNames[i] = instance->surfaces[i]->name;
    return true;
}

// A control the host could not make is not there to place.
void place(ControlHandle control, int32_t x, int32_t y) {
    if (control == nullptr)
        return;
    setInt(control, AttrX, x);
    setInt(control, AttrY, y);
}

// Adds controls one by one. After the first control the host could not
// make, nothing more is asked of the host and failed() is true.
class ControlMaker {
  public:
    explicit ControlMaker(FilterInstance* instance) : instance_(instance) {}

    bool failed() const { return failed_; }

    ControlHandle add(const char* type, const ControlDesc& desc, const char* label) {
        if (failed_)
            return nullptr;
        ControlHandle control = panelService->addControl(currentPanel, type, &desc, label);
        failed_ = control == nullptr;
        return control;
    }
    ControlHandle add(const char* type, int32_t descType, const char* label) {
        return add(type, blankDesc(descType), label);
    }

    // The instance as user data, then the event callback.
    void onEvent(ControlHandle control, ControlEventFunc callback) {
        if (control == nullptr)
            return;
        setPointer(control, AttrUserData, instance_);
        setPointer(control, AttrEventCallback, reinterpret_cast<void*>(callback));
    }
    void onDraw(ControlHandle control, ControlDrawFunc callback) {
        if (control == nullptr)
            return;
        setPointer(control, AttrUserData, instance_);
        setPointer(control, AttrDrawCallback, reinterpret_cast<void*>(callback));
    }

  private:
    FilterInstance* instance_;
    bool failed_ = false;
};

int32_t x(ControlHandle c) {
    return c != nullptr ? getInt(c, AttrX) : 0;
}
int32_t y(ControlHandle c) {
    return c != nullptr ? getInt(c, AttrY) : 0;
}
int32_t width(ControlHandle c) {
    return c != nullptr ? getInt(c, AttrWidth) : 0;
}
int32_t height(ControlHandle c) {
    return c != nullptr ? getInt(c, AttrHeight) : 0;
}

// Rows 1 to 35 in creation order; returns the remembered panel height, or
// -1 when a control could not be made.
int32_t addControls(FilterInstance* instance, ItemLists* lists) {
    PanelControls& c = panelControls;
    c = PanelControls{};
    ControlMaker m(instance);

    c.enableBox = m.add("BoolControl", DescBool, "Enable Orvit");
    if (c.enableBox != nullptr)
        setInt(c.enableBox, AttrValue, instance->enabled);

    c.valueEnableBox = m.add("BoolControl", DescBool, "");
    m.onEvent(c.valueEnableBox, valueEnableChanged);
    const ControlHandle box = c.valueEnableBox;

    if (!buildSpecialValueLabels(instance, lists))
        return -1;
    c.specialPopup =
        m.add("PopupControl", listDesc(lists->specialValueLabels, 3), "Special Buffer");
    m.onEvent(c.specialPopup, specialBufferChanged);
    place(c.specialPopup, x(box) + width(box), y(box));

    if (!buildSurfaceNames(instance, lists))
        return -1;
    c.surfacePopup = m.add("PopupControl", listDesc(lists->surfaceNames, 3), "Surface");
    m.onEvent(c.surfacePopup, surfaceChanged);
    place(c.surfacePopup, x(c.specialPopup) + width(c.specialPopup) + 20, y(box));

    c.copyButton = m.add("ButtonControl", DescButton, "Copy");
    m.onEvent(c.copyButton, copyPressed);
    place(c.copyButton, x(c.surfacePopup) + width(c.surfacePopup) + 40, y(box));

    c.pasteButton = m.add("ButtonControl", DescButton, "Paste");
    m.onEvent(c.pasteButton, pastePressed);
    place(c.pasteButton, x(c.copyButton) + width(c.copyButton), y(box));
    if (m.failed())
        return -1;
    setInt(c.surfacePopup, AttrValue, surfaceIndexByValue(instance, instance->specialValues[0]));

    for (int i = 0; i < kColorKeyCount; ++i) {
        const ControlHandle keyBox = c.keyEnableBox[i] = m.add("BoolControl", DescBool, "");
        m.onEvent(keyBox, keyChanged);
        c.keyColorControl[i] = m.add("MiniRGBControl", DescRGB, "");
        m.onEvent(c.keyColorControl[i], keyChanged);
        place(c.keyColorControl[i], x(keyBox) + width(keyBox), y(keyBox));
        c.keyPositionSlider[i] = m.add("MiniSliderControl", rangeDesc(100, 0, 100), "Position");
        m.onEvent(c.keyPositionSlider[i], keyChanged);
        place(c.keyPositionSlider[i], x(c.keyColorControl[i]) + width(c.keyColorControl[i]),
              y(keyBox));
    }

    c.gradientStrip = m.add("AreaControl", areaDesc(500, 10), "");
    m.onDraw(c.gradientStrip, drawGradient);
    if (m.failed())
        return -1;
    int32_t panelHeight = 0;
    panelService->getPanelAttr(currentPanel, PanelHeight, &panelHeight);

    c.modeLabel = m.add("TextControl", textDesc(kOneEmptyLine), "Mode");
    c.distanceLabel = m.add("TextControl", textDesc(kOneEmptyLine), "Distance");
    c.transparencyLabel = m.add("TextControl", textDesc(kOneEmptyLine), "Transparency");
    c.modeChoice = m.add("ChoiceControl", listDesc(kModeItems, 0), "");
    c.distanceField = m.add("FloatControl", DescFloat, "");
    c.sizeEnvelopeButton = m.add("BoolButtonControl", DescBool, "E");
    m.onEvent(c.sizeEnvelopeButton, sizeEnvelopePressed);
    c.transparencyField = m.add("PercentControl", rangeDesc(kPercentWidth, 0, 100), "");
    c.transEnvelopeButton = m.add("BoolButtonControl", DescBool, "E");
    m.onEvent(c.transEnvelopeButton, transEnvelopePressed);

    c.previewArea = m.add("AreaControl", areaDesc(kSnapshotWidth, kSnapshotHeight), "");
    m.onDraw(c.previewArea, drawPreview);
    place(c.previewArea, 0, y(c.modeLabel));
    const ControlHandle preview = c.previewArea;

    c.previewSpacer = m.add("AreaControl", areaDesc(kSnapshotWidth, 5), "");
    m.onDraw(c.previewSpacer, drawNothing);
    place(c.previewSpacer, x(preview), y(preview) + height(preview));

    c.previewButton = m.add("ButtonControl", DescButton, "Preview");
    m.onEvent(c.previewButton, runPreview);
    place(c.previewButton, x(preview), y(preview) + height(preview) + 10);

    c.displayPopup = m.add("PopupControl", listDesc(kDisplayItems, 3), "");
    place(c.displayPopup, x(c.previewButton) + width(c.previewButton), y(c.previewButton));

    c.halfResBox = m.add("BoolControl", DescBool, "1/2 res");
    place(c.halfResBox, x(c.displayPopup) + width(c.displayPopup), y(c.previewButton));
    return m.failed() ? -1 : panelHeight;
}

// The mode, distance and transparency rows move into a column right of the
// preview.
void placeModeRows() {
    const PanelControls& c = panelControls;
    const int32_t colX = x(c.modeLabel) + width(c.previewArea);
    for (ControlHandle label : {c.modeLabel, c.distanceLabel, c.transparencyLabel})
        setInt(label, AttrX, colX);
    const int32_t fieldX = x(c.transparencyLabel) + width(c.transparencyLabel);
    place(c.modeChoice, fieldX, y(c.modeLabel));
    place(c.distanceField, fieldX - 6, y(c.distanceLabel));
    place(c.sizeEnvelopeButton, fieldX - 6 + width(c.distanceField), y(c.distanceLabel));
    place(c.transparencyField, fieldX, y(c.transparencyLabel));
    place(c.transEnvelopeButton, fieldX + width(c.transparencyField), y(c.transparencyLabel));
}

// What the backup holds: the enable flag and deep copies of the settings.
void releaseBackup(FilterInstance* backup) {
    releaseSettings(backup);
    releaseEnvelopes(&backup->clipboard);
}

// Destroys the panel, forgets its controls and frees the item lists.
void closePanel(ItemLists* lists) {
    panelService->destroyPanel(currentPanel);
    currentPanel = nullptr;
    panelControls = PanelControls{};
    lists->release();
}

} // namespace

bool showSettingsPanel(FilterInstance* instance) {
    ItemLists lists;
    const int32_t panelHeight = addControls(instance, &lists);
    if (panelHeight < 0) {
        closePanel(&lists);
        return false;
    }
    placeModeRows();
    const PanelControls& c = panelControls;

    // Before opening.
    if (instance->snapshot.red == nullptr) {
        drawControl(c.previewButton, DrawGhosted);
        drawControl(c.displayPopup, DrawGhosted);
    }
    int32_t height = panelHeight + 252;
    panelService->setPanelAttr(currentPanel, PanelHeight, &height);
    // The backup is taken before the first value's setting is made, so that
    // Cancel leaves no setting the user never kept.
    FilterInstance backup;
    std::memset(static_cast<void*>(&backup), 0, sizeof backup);
    initSetting(&backup.clipboard, nullptr, 0);
    copyInstance(&backup, instance);
    instance->selected = findOrAddSetting(instance, instance->specialValues[0]);
    if (instance->selected == nullptr) {
        closePanel(&lists);
        releaseBackup(&backup);
        return false;
    }
    loadControls(instance->selected);

    // Opening and closing.
    if (panelService->openPanel(currentPanel, 7) != 0) {
        instance->enabled = getInt(c.enableBox, AttrValue);
        storeControls(instance->selected);
    } else {
        copyInstance(instance, &backup);
    }
    releaseGlowLayer(instance);
    closePanel(&lists);
    // Points into a list that Cancel may have replaced: meaningless once closed.
    instance->selected = nullptr;
    releaseBackup(&backup);
    return true;
}

} // namespace orvit

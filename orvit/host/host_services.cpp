#include "orvit/host/host_services.h"

#include "orvit/core/envelopes.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace orvit::host {

namespace {

HostServices* bound = nullptr;

// Item identifiers: (index + 1) * 16 + item type, so that no identifier is
// null and each names its type and place.
constexpr uintptr_t kTypeSpan = 16;

ItemId makeItemId(int32_t type, size_t index) {
    return reinterpret_cast<ItemId>((index + 1) * kTypeSpan + static_cast<uintptr_t>(type));
}

size_t itemCount(int32_t type) {
    if (bound == nullptr)
        return 0;
    if (type == ItemObject)
        return bound->scene.objects.size();
    if (type == ItemCamera)
        return bound->scene.cameras.size();
    return 0;
}

// Decodes an identifier; false for anything this host did not hand out.
bool findItem(ItemId item, int32_t* type, size_t* index) {
    const auto v = reinterpret_cast<uintptr_t>(item);
    if (v < kTypeSpan)
        return false;
    *type = static_cast<int32_t>(v % kTypeSpan);
    *index = v / kTypeSpan - 1;
    return *index < itemCount(*type);
}

void showMessage(bool error, const char* first, const char* second) {
    if (bound == nullptr)
        return;
    try {
        Message m{error, first != nullptr ? first : "", second != nullptr ? second : ""};
        if (!bound->quiet)
            std::fprintf(stderr, "%s: %s / %s\n", error ? "error" : "info", m.first.c_str(),
                         m.second.c_str());
        bound->messages.push_back(std::move(m));
    } catch (...) {
        // Out of memory: the message is lost; nothing may escape to the caller.
    }
}

// `call` on the bound host's panels; `failed` when none is bound or it throws.
template <typename Result, typename Call> Result toPanels(Result failed, Call call) {
    if (bound == nullptr)
        return failed;
    try {
        return call(bound->panelHost);
    } catch (...) {
        return failed;
    }
}
template <typename Call> void toPanels(Call call) {
    toPanels(0, [&](panel::PanelHost& panels) {
        call(panels);
        return 0;
    });
}

} // namespace

extern "C" {

static void* ORVIT_CALL hostLookup(const char* name, int32_t) {
    if (bound == nullptr || name == nullptr)
        return nullptr;
    try {
        bound->lookups.emplace_back(name);
        if (bound->withheld.count(name) != 0)
            return nullptr;
    } catch (...) {
        return nullptr;
    }
    if (std::strcmp(name, "Info Messages") == 0)
        return &bound->messageService;
    if (std::strcmp(name, "EnvelopeHandler") == 0)
        return const_cast<EnvelopeService*>(core::envelopeService());
    if (std::strcmp(name, "LW Item Info 2") == 0)
        return &bound->itemInfo;
    if (std::strcmp(name, "LW Object Info") == 0)
        return &bound->objectInfo;
    if (std::strcmp(name, "LW Camera Info") == 0)
        return &bound->cameraInfo;
    if (std::strcmp(name, "LWPanelServices") == 0)
        return &bound->panelServices;
    return nullptr;
}

static void ORVIT_CALL infoMessage(const char* first, const char* second) {
    showMessage(false, first, second);
}

static void ORVIT_CALL errorMessage(const char* first, const char* second) {
    showMessage(true, first, second);
}

// Only top-level items exist: a parent has no children.
static ItemId ORVIT_CALL firstItem(int32_t type, ItemId parent) {
    if (bound != nullptr && parent == nullptr && type == ItemCamera) {
        ++bound->cameraRequests;
        if (itemCount(type) == 0)
            ++bound->missingCameraRequests;
    }
    if (parent != nullptr || itemCount(type) == 0)
        return nullptr;
    return makeItemId(type, 0);
}

static ItemId ORVIT_CALL nextItem(ItemId item) {
    int32_t type = 0;
    size_t index = 0;
    if (!findItem(item, &type, &index) || index + 1 >= itemCount(type))
        return nullptr;
    return makeItemId(type, index + 1);
}

static const char* ORVIT_CALL objectFileName(ItemId object) {
    int32_t type = 0;
    size_t index = 0;
    if (!findItem(object, &type, &index) || type != ItemObject)
        return nullptr;
    return bound->scene.objects[index].c_str();
}

// The first value is K; the stand-in offers no second value and writes 0.
static int32_t ORVIT_CALL viewValues(ItemId camera, double time, double* first, double* second) {
    int32_t type = 0;
    size_t index = 0;
    if (!findItem(camera, &type, &index) || type != ItemCamera)
        return 0;
    if (first != nullptr)
        *first = cameraK(bound->scene.cameras[index], time);
    if (second != nullptr)
        *second = 0.0;
    return 1;
}

// The panel slots forward to the bound host's panels. Nothing they throw
// may reach the module: a failure answers as the slot's contract says.
static PanelHandle ORVIT_CALL createPanel(const char* title, const PanelServices*) {
    return toPanels(PanelHandle{}, [&](panel::PanelHost& p) { return p.createPanel(title); });
}

// A failure: the panel is as good as gone, the module holds no handle after this.
static void ORVIT_CALL destroyPanel(PanelHandle panel) {
    toPanels([&](panel::PanelHost& p) { p.destroyPanel(panel); });
}

// A failure answers as Cancel: the module then keeps the settings as they were.
static int32_t ORVIT_CALL openPanel(PanelHandle panel, int32_t flags) {
    return toPanels(int32_t{0}, [&](panel::PanelHost& p) { return p.openPanel(panel, flags); });
}

// A failure leaves the picture as it was.
static void ORVIT_CALL drawPanel(PanelHandle panel, int32_t mode) {
    toPanels([&](panel::PanelHost& p) { p.drawPanel(panel, mode); });
}

// A failure leaves the payload as the module left it.
static void ORVIT_CALL getPanelAttr(PanelHandle panel, int32_t attr, void* value) {
    toPanels([&](panel::PanelHost& p) { p.getPanelAttr(panel, attr, value); });
}

// A failure leaves the attribute its value.
static void ORVIT_CALL setPanelAttr(PanelHandle panel, int32_t attr, void* value) {
    toPanels([&](panel::PanelHost& p) { p.setPanelAttr(panel, attr, value); });
}

static ControlHandle ORVIT_CALL addControl(PanelHandle panel, const char* type,
                                           const ControlDesc* desc, const char* label) {
    return toPanels(ControlHandle{},
                    [&](panel::PanelHost& p) { return p.addControl(panel, type, desc, label); });
}

} // extern "C"

HostServices::HostServices() : previous_(bound) {
    // "Info Messages"
    messageService.info = infoMessage;
    messageService.errorMessage = errorMessage;
    // "LW Item Info 2"
    itemInfo.firstItem = firstItem;
    itemInfo.nextItem = nextItem;
    // "LW Object Info"
    objectInfo.objectFileName = objectFileName;
    // "LW Camera Info"
    cameraInfo.slot0 = nullptr;
    cameraInfo.slot1 = nullptr;
    cameraInfo.slot2 = nullptr;
    cameraInfo.slot3 = nullptr;
    cameraInfo.slot4 = nullptr;
    cameraInfo.viewValues = viewValues;
    // "LWPanelServices"
    panelServices.createPanel = createPanel;
    panelServices.destroyPanel = destroyPanel;
    panelServices.openPanel = openPanel;
    panelServices.slot3 = nullptr;
    panelServices.drawPanel = drawPanel;
    panelServices.slot5 = nullptr;
    panelServices.getPanelAttr = getPanelAttr;
    panelServices.setPanelAttr = setPanelAttr;
    panelServices.addControl = addControl;
    panelServices.slot9 = nullptr;
    panelServices.drawFuncs = panel::panelDrawFuncs();
    bound = this;
}

HostServices::~HostServices() {
    if (bound == this)
        bound = previous_;
}

GlobalFunc HostServices::lookup() {
    return hostLookup;
}

double cameraK(const core::Camera& camera, double time) {
    return std::tan(core::evaluateKeys(camera.horizontalFov, time) / 2);
}

} // namespace orvit::host

// The host's global services as the module looks them up by name: messages,
// envelopes, item, object and camera info, and panels.
#pragma once

#include "module/abi/items.h"
#include "module/abi/module.h"
#include "module/abi/panel.h"
#include "orvit/core/scene.h"
#include "orvit/panel/panel_host.h"

#include <set>
#include <string>
#include <vector>

namespace orvit::host {

struct Message {
    bool error; // errorMessage (slot 1) rather than info (slot 0)
    std::string first;
    std::string second;
};

// The lookup function carries no context, so the services it answers with
// are those of the one HostServices bound at the time: the one made last
// that still exists.
class HostServices {
  public:
    HostServices();
    ~HostServices();
    HostServices(const HostServices&) = delete;
    HostServices& operator=(const HostServices&) = delete;

    // The host's global lookup function, as handed to every activation.
    static GlobalFunc lookup();

    core::Scene scene;
    // Every message shown, in order; also printed to stderr unless `quiet`.
    std::vector<Message> messages;
    bool quiet = false;
    // Every name looked up, in order.
    std::vector<std::string> lookups;
    // Names the lookup answers with null, as a host without them would.
    std::set<std::string> withheld;
    // How often the module asked for the first camera of a scene that has
    // none (a glow in a Depth mode does, and then draws no outline glow).
    int missingCameraRequests = 0;
    // How often the module asked for the first camera at all: a glow in a
    // Depth mode does on every run, the other modes never.
    int cameraRequests = 0;

    MessageService messageService{};
    ItemInfo itemInfo{};
    ObjectInfo objectInfo{};
    CameraInfo cameraInfo{};
    PanelServices panelServices{};

    // The panels behind "LWPanelServices"; its `user` answers open panels.
    panel::PanelHost panelHost;

  private:
    HostServices* previous_;
};

// The camera's K at `time`: tan(horizontal field of view / 2).
double cameraK(const core::Camera& camera, double time);

} // namespace orvit::host

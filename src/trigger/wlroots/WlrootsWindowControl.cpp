#include "trigger/wlroots/WlrootsWindowControl.h"

#include <wayland-client.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace tovak::trigger {

using system::Json;

namespace {

// The newest version this client knows; older compositors offer less and are asked for that.
constexpr std::uint32_t kManagerVersion = 3;

using Toplevel = WlrootsWindowControl::Toplevel;

void onTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
    static_cast<Toplevel*>(data)->title = title != nullptr ? title : "";
}
void onAppId(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void onState(void*, zwlr_foreign_toplevel_handle_v1*, wl_array*) {}
void onDone(void*, zwlr_foreign_toplevel_handle_v1*) {}
void onClosed(void* data, zwlr_foreign_toplevel_handle_v1*) {
    auto* toplevel = static_cast<Toplevel*>(data);
    toplevel->owner->forget(toplevel);
}
void onParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

constexpr zwlr_foreign_toplevel_handle_v1_listener kToplevelListener = {
    onTitle, onAppId, onOutput, onOutput, onState, onDone, onClosed, onParent,
};

void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
    static_cast<WlrootsWindowControl*>(data)->adopt(handle);
}
void onFinished(void*, zwlr_foreign_toplevel_manager_v1*) {}

constexpr zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {onToplevel, onFinished};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version) {
    auto* globals = static_cast<WlrootsWindowControl::Globals*>(data);
    if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0 && globals->manager == nullptr) {
        globals->manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
            registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, kManagerVersion)));
        // Listening before the next dispatch, so no window announced meanwhile is missed.
        zwlr_foreign_toplevel_manager_v1_add_listener(globals->manager, &kManagerListener, globals->owner);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals->seat == nullptr) {
        globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    }
}
void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

}  // namespace

std::shared_ptr<WlrootsWindowControl> WlrootsWindowControl::connect(const std::string& waylandDisplay,
                                                                    const std::string& swaySocket) {
    wl_display* display = wl_display_connect(waylandDisplay.empty() ? nullptr : waylandDisplay.c_str());
    if (display == nullptr) {
        return nullptr;
    }
    std::shared_ptr<WlrootsWindowControl> control(new WlrootsWindowControl(display, swaySocket));
    control->globals_.owner = control.get();
    control->registry_ = wl_display_get_registry(display);
    wl_registry_add_listener(control->registry_, &kRegistryListener, &control->globals_);
    // The first round trip names the globals; the second brings the windows already open.
    if (wl_display_roundtrip(display) < 0 || control->globals_.manager == nullptr) {
        return nullptr;
    }
    if (!control->catchUp()) {
        return nullptr;
    }
    return control;
}

WlrootsWindowControl::WlrootsWindowControl(wl_display* display, std::string swaySocket) : display_(display) {
    if (!swaySocket.empty()) {
        sway_.emplace(std::move(swaySocket));
    }
}

WlrootsWindowControl::~WlrootsWindowControl() {
    for (Toplevel& toplevel : toplevels_) {
        zwlr_foreign_toplevel_handle_v1_destroy(toplevel.handle);
    }
    if (globals_.manager != nullptr) {
        zwlr_foreign_toplevel_manager_v1_destroy(globals_.manager);
    }
    if (globals_.seat != nullptr) {
        wl_seat_destroy(globals_.seat);
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    wl_display_disconnect(display_);
}

void WlrootsWindowControl::adopt(zwlr_foreign_toplevel_handle_v1* handle) {
    Toplevel& toplevel = toplevels_.emplace_back();
    toplevel.owner = this;
    toplevel.handle = handle;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kToplevelListener, &toplevel);
}

void WlrootsWindowControl::forget(Toplevel* toplevel) {
    zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
    toplevels_.remove_if([toplevel](const Toplevel& t) { return &t == toplevel; });
}

bool WlrootsWindowControl::catchUp() {
    return wl_display_roundtrip(display_) >= 0;
}

std::list<Toplevel*> WlrootsWindowControl::titled(const std::string& fileName) {
    std::list<Toplevel*> found;
    if (fileName.empty()) {
        return found;
    }
    for (Toplevel& toplevel : toplevels_) {
        if (toplevel.title.find(fileName) != std::string::npos) {
            found.push_back(&toplevel);
        }
    }
    return found;
}

std::optional<int> WlrootsWindowControl::countWindowsTitled(const std::string& fileName) {
    if (!catchUp()) {
        return std::nullopt;
    }
    return static_cast<int>(titled(fileName).size());
}

WindowControl::Outcome WlrootsWindowControl::raiseWindowsTitled(const std::string& fileName) {
    if (!catchUp()) {
        return Outcome::failed;
    }
    const std::list<Toplevel*> found = titled(fileName);
    if (found.empty()) {
        return Outcome::noWindow;
    }
    if (globals_.seat == nullptr) {
        return Outcome::unsupported;
    }
    // Oldest first, so the newest window ends focused.
    for (Toplevel* toplevel : found) {
        zwlr_foreign_toplevel_handle_v1_activate(toplevel->handle, globals_.seat);
    }
    return catchUp() ? Outcome::done : Outcome::failed;
}

WindowControl::Outcome WlrootsWindowControl::closeWindowsTitled(const std::string& fileName) {
    if (!catchUp()) {
        return Outcome::failed;
    }
    const std::list<Toplevel*> found = titled(fileName);
    if (found.empty()) {
        return Outcome::noWindow;
    }
    for (Toplevel* toplevel : found) {
        zwlr_foreign_toplevel_handle_v1_close(toplevel->handle);
    }
    return catchUp() ? Outcome::done : Outcome::failed;
}

WindowControl::Outcome WlrootsWindowControl::placePanel(const std::string& panelTitle, const DesktopRect& where) {
    if (!sway_) {
        return Outcome::unsupported;
    }
    if (panelTitle.empty()) {
        return Outcome::noWindow;
    }
    // Floating windows stay above tiled ones in sway; sticky ones follow the user to every
    // workspace of their output.
    const std::string command = "[title=\"" + SwayIpc::exactCriterion(panelTitle) +
                                "\"] floating enable, sticky enable, border none, resize set width " +
                                std::to_string(where.width) + " px height " + std::to_string(where.height) +
                                " px, move absolute position " + std::to_string(where.x) + " " +
                                std::to_string(where.y);
    const std::optional<Json> answer = sway_->request(SwayIpc::Message::runCommand, command);
    if (!answer || answer->kind() != Json::Kind::array || answer->items().empty()) {
        return Outcome::failed;
    }
    for (const Json& result : answer->items()) {
        if (!result["success"].isTrue()) {
            // sway answers a criterion that matches nothing with one failure naming it.
            return result["error"].text().find("No matching") != std::string::npos ? Outcome::noWindow
                                                                                   : Outcome::failed;
        }
    }
    return Outcome::done;
}

std::optional<DesktopRect> WlrootsWindowControl::activeScreen() {
    if (!sway_) {
        return std::nullopt;
    }
    const std::optional<Json> outputs = sway_->request(SwayIpc::Message::getOutputs);
    if (!outputs) {
        return std::nullopt;
    }
    for (const Json& output : outputs->items()) {
        if (output["focused"].isTrue() && output["active"].isTrue()) {
            const Json& rect = output["rect"];
            return DesktopRect{static_cast<int>(std::lround(rect["x"].number())),
                               static_cast<int>(std::lround(rect["y"].number())),
                               static_cast<int>(std::lround(rect["width"].number())),
                               static_cast<int>(std::lround(rect["height"].number()))};
        }
    }
    return std::nullopt;
}

}  // namespace tovak::trigger

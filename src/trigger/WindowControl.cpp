#include "trigger/WindowControl.h"

#include <cstdlib>
#include <functional>

#include "trigger/NoWindowControl.h"
#include "trigger/wlroots/WlrootsWindowControl.h"
#include "trigger/x11/X11WindowControl.h"

namespace tovak::trigger {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::shared_ptr<WindowControl> wlroots(const DesktopSession& session) {
    if (session.waylandDisplay.empty()) {
        return nullptr;
    }
    return WlrootsWindowControl::connect(session.waylandDisplay, environment("SWAYSOCK"));
}

std::shared_ptr<WindowControl> x11(const DesktopSession& session) {
    if (session.x11Display.empty()) {
        return nullptr;
    }
    return X11WindowControl::connect(session.x11Display);
}

}  // namespace

DesktopSession DesktopSession::fromEnvironment() {
    return {environment("XDG_SESSION_TYPE"), environment("XDG_CURRENT_DESKTOP"), environment("WAYLAND_DISPLAY"),
            environment("DISPLAY")};
}

std::shared_ptr<WindowControl> makeWindowControl(const DesktopSession& session) {
    // The desktop's own way first; X11 last, since on a Wayland session it sees XWayland windows only.
    const std::function<std::shared_ptr<WindowControl>(const DesktopSession&)> connectors[] = {
        wlroots,
        x11,
    };
    for (const auto& connector : connectors) {
        if (auto control = connector(session)) {
            return control;
        }
    }
    return std::make_shared<NoWindowControl>();
}

}  // namespace tovak::trigger

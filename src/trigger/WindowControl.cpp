#include "trigger/WindowControl.h"

#include <cstdlib>
#include <functional>

#include "trigger/NoWindowControl.h"
#include "trigger/gnome/GnomeWindowControl.h"
#include "trigger/kde/KdeWindowControl.h"
#include "trigger/wlroots/WlrootsWindowControl.h"
#include "trigger/x11/X11WindowControl.h"

namespace tovak::trigger {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool desktopIs(const DesktopSession& session, const std::string& name) {
    // Unknown desktops are asked too: the answer is what counts.
    return session.desktop.empty() || (":" + session.desktop + ":").find(":" + name + ":") != std::string::npos;
}

std::shared_ptr<WindowControl> gnome(const DesktopSession& session, std::string& notice) {
    if (!desktopIs(session, "GNOME")) {
        return nullptr;
    }
    GnomeExtensionState state = GnomeExtensionState::notGnome;
    std::shared_ptr<WindowControl> control = GnomeWindowControl::connect(&state);
    notice = GnomeWindowControl::statusLine(state);
    return control;
}

std::shared_ptr<WindowControl> kde(const DesktopSession& session, std::string&) {
    return desktopIs(session, "KDE") ? KdeWindowControl::connect() : nullptr;
}

std::shared_ptr<WindowControl> wlroots(const DesktopSession& session, std::string&) {
    if (session.waylandDisplay.empty()) {
        return nullptr;
    }
    return WlrootsWindowControl::connect(session.waylandDisplay, environment("SWAYSOCK"));
}

std::shared_ptr<WindowControl> x11(const DesktopSession& session, std::string&) {
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

std::shared_ptr<WindowControl> makeWindowControl(const DesktopSession& session, std::string* notice) {
    // The desktop's own way first; X11 last, since on a Wayland session it sees XWayland windows only.
    const std::function<std::shared_ptr<WindowControl>(const DesktopSession&, std::string&)> connectors[] = {
        gnome,
        kde,
        wlroots,
        x11,
    };
    std::shared_ptr<WindowControl> chosen;
    std::string said;
    for (const auto& connector : connectors) {
        std::string text;
        chosen = connector(session, text);
        if (said.empty()) {
            said = std::move(text);
        }
        if (chosen) {
            break;
        }
    }
    if (notice != nullptr) {
        *notice = said;
    }
    return chosen ? chosen : std::make_shared<NoWindowControl>();
}

}  // namespace tovak::trigger

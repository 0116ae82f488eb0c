#include "trigger/x11/X11WindowControl.h"

#include <xcb/randr.h>

namespace tovak::trigger {

namespace {

// The source field of window manager requests: a pager or taskbar acting for the user.
constexpr std::uint32_t kSourceIsTool = 2;
constexpr std::uint32_t kStateAdd = 1;
constexpr std::uint32_t kAllDesktops = 0xFFFFFFFFu;

}  // namespace

std::shared_ptr<X11WindowControl> X11WindowControl::connect(const std::string& display) {
    std::unique_ptr<XcbWindows> x = XcbWindows::connect(display);
    if (!x) {
        return nullptr;
    }
    // RandR answers a client by the version it said it speaks; monitors came with 1.5.
    xcb_connection_t* c = x->connection();
    adoptReply(xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    return std::shared_ptr<X11WindowControl>(new X11WindowControl(std::move(x)));
}

std::vector<xcb_window_t> X11WindowControl::windowsTitled(const std::string& fileName) const {
    if (fileName.empty()) {
        return {};
    }
    return x_->windowsWhere([&](const std::string& title) { return title.find(fileName) != std::string::npos; });
}

std::optional<int> X11WindowControl::countWindowsTitled(const std::string& fileName) {
    if (xcb_connection_has_error(x_->connection()) != 0) {
        return std::nullopt;
    }
    return static_cast<int>(windowsTitled(fileName).size());
}

WindowControl::Outcome X11WindowControl::raiseWindowsTitled(const std::string& fileName) {
    if (xcb_connection_has_error(x_->connection()) != 0) {
        return Outcome::failed;
    }
    const std::vector<xcb_window_t> found = windowsTitled(fileName);
    if (found.empty()) {
        return Outcome::noWindow;
    }
    // Activation is the window manager's to grant.
    if (!x_->supported(XcbWindows::kNetActiveWindow)) {
        return Outcome::unsupported;
    }
    // Oldest first, so the newest window ends on top.
    for (const xcb_window_t window : found) {
        // A minimised window asks to be mapped as its application would (ICCCM), for the window
        // managers that do not restore a window on activation alone.
        if (x_->hasWord(window, x_->atom(XcbWindows::kNetWmState), XCB_ATOM_ATOM,
                        x_->atom(XcbWindows::kNetWmStateHidden))) {
            xcb_map_window(x_->connection(), window);
        }
        x_->askWindowManager(window, XcbWindows::kNetActiveWindow, {kSourceIsTool, XCB_CURRENT_TIME});
    }
    x_->sync();
    return Outcome::done;
}

WindowControl::Outcome X11WindowControl::closeWindowsTitled(const std::string& fileName) {
    if (xcb_connection_has_error(x_->connection()) != 0) {
        return Outcome::failed;
    }
    const std::vector<xcb_window_t> found = windowsTitled(fileName);
    if (found.empty()) {
        return Outcome::noWindow;
    }
    // Window managers that do not list _NET_CLOSE_WINDOW ignore it (sway's XWayland among them);
    // the client's own close message is what the close button would send there.
    const bool throughWindowManager = x_->supported(XcbWindows::kNetCloseWindow);
    int asked = 0;
    for (const xcb_window_t window : found) {
        // A window that does not take WM_DELETE_WINDOW could only be destroyed (a window manager
        // answers _NET_CLOSE_WINDOW for it by killing its client), losing its application's work:
        // it is left alone.
        if (!x_->hasWord(window, x_->atom(XcbWindows::kWmProtocols), XCB_ATOM_ATOM,
                         x_->atom(XcbWindows::kWmDeleteWindow))) {
            continue;
        }
        if (throughWindowManager) {
            x_->askWindowManager(window, XcbWindows::kNetCloseWindow, {XCB_CURRENT_TIME, kSourceIsTool});
        } else {
            x_->send(window, XCB_EVENT_MASK_NO_EVENT, window, x_->atom(XcbWindows::kWmProtocols),
                     {x_->atom(XcbWindows::kWmDeleteWindow), XCB_CURRENT_TIME});
        }
        ++asked;
    }
    x_->sync();
    return asked > 0 ? Outcome::done : Outcome::failed;
}

WindowControl::Outcome X11WindowControl::placePanel(const std::string& panelTitle, const DesktopRect& where) {
    if (xcb_connection_has_error(x_->connection()) != 0) {
        return Outcome::failed;
    }
    const std::vector<xcb_window_t> found =
        panelTitle.empty() ? std::vector<xcb_window_t>{}
                           : x_->windowsWhere([&](const std::string& title) { return title == panelTitle; });
    if (found.empty()) {
        return Outcome::noWindow;
    }
    const bool managed = x_->ewmhWindowManagerRuns();
    for (const xcb_window_t window : found) {
        const std::array<std::uint32_t, 5> geometry = {
            static_cast<std::uint32_t>(where.x), static_cast<std::uint32_t>(where.y),
            static_cast<std::uint32_t>(where.width), static_cast<std::uint32_t>(where.height), XCB_STACK_MODE_ABOVE};
        xcb_configure_window(x_->connection(), window,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE,
                             geometry.data());
        if (!managed) {
            continue;
        }
        // Window managers drop these when a window is hidden, so they are asked again at every show.
        x_->askWindowManager(window, XcbWindows::kNetWmState,
                             {kStateAdd, x_->atom(XcbWindows::kNetWmStateAbove),
                              x_->atom(XcbWindows::kNetWmStateSticky), kSourceIsTool});
        x_->askWindowManager(window, XcbWindows::kNetWmState,
                             {kStateAdd, x_->atom(XcbWindows::kNetWmStateSkipTaskbar),
                              x_->atom(XcbWindows::kNetWmStateSkipPager), kSourceIsTool});
        x_->askWindowManager(window, XcbWindows::kNetWmDesktop, {kAllDesktops, kSourceIsTool});
    }
    x_->sync();
    return Outcome::done;
}

std::optional<DesktopRect> X11WindowControl::frameOf(xcb_window_t window) const {
    xcb_connection_t* c = x_->connection();
    auto geometry = adoptReply(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    auto origin =
        adoptReply(xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, x_->root(), 0, 0), nullptr));
    if (!geometry || !origin) {
        return std::nullopt;
    }
    return DesktopRect{origin->dst_x, origin->dst_y, geometry->width, geometry->height};
}

std::optional<DesktopRect> X11WindowControl::activeScreen() {
    xcb_connection_t* c = x_->connection();
    if (xcb_connection_has_error(c) != 0) {
        return std::nullopt;
    }
    std::optional<xcb_window_t> active;
    if (x_->ewmhWindowManagerRuns()) {
        const std::vector<std::uint32_t> words =
            x_->words(x_->root(), x_->atom(XcbWindows::kNetActiveWindow), XCB_ATOM_WINDOW);
        if (!words.empty() && words.front() != XCB_WINDOW_NONE) {
            active = words.front();
        }
    } else if (auto focus = adoptReply(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
               focus && focus->focus != XCB_WINDOW_NONE && focus->focus != XCB_INPUT_FOCUS_POINTER_ROOT &&
               focus->focus != x_->root()) {
        active = focus->focus;
    }
    const std::optional<DesktopRect> frame = active ? frameOf(*active) : std::nullopt;
    if (!frame) {
        return std::nullopt;
    }
    const int centreX = frame->x + frame->width / 2;
    const int centreY = frame->y + frame->height / 2;
    // The monitors RandR describes (outputs, or monitors made by hand), not the whole X screen.
    auto monitors = adoptReply(xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, x_->root(), 1), nullptr));
    if (!monitors) {
        return std::nullopt;
    }
    for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        const DesktopRect screen{it.data->x, it.data->y, it.data->width, it.data->height};
        if (centreX >= screen.x && centreX < screen.x + screen.width && centreY >= screen.y &&
            centreY < screen.y + screen.height) {
            return screen;
        }
    }
    return std::nullopt;
}

}  // namespace tovak::trigger

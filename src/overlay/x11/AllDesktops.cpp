#include "overlay/AllDesktops.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tovak::overlay {

namespace {

xcb_connection_t* connectionOf(QWidget* window) {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 != nullptr && window != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return result;
}

// Adds states to the window's _NET_WM_STATE, keeping those already there: the toolkit merges its
// own (above) into the list when it maps the window.
void addStates(QWidget* window, std::initializer_list<const char*> names) {
    xcb_connection_t* c = connectionOf(window);
    const xcb_atom_t property = c != nullptr ? atom(c, "_NET_WM_STATE") : xcb_atom_t{XCB_ATOM_NONE};
    if (property == XCB_ATOM_NONE) {
        return;
    }
    const auto id = static_cast<xcb_window_t>(window->winId());
    std::vector<xcb_atom_t> states;
    if (xcb_get_property_reply_t* reply =
            xcb_get_property_reply(c, xcb_get_property(c, 0, id, property, XCB_ATOM_ATOM, 0, 64), nullptr)) {
        if (reply->format == 32) {
            const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
            states.assign(values, values + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
    }
    for (const char* name : names) {
        const xcb_atom_t state = atom(c, name);
        if (state != XCB_ATOM_NONE && std::find(states.begin(), states.end(), state) == states.end()) {
            states.push_back(state);
        }
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, property, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(states.size()), states.data());
    xcb_flush(c);
}

}  // namespace

void requestAllDesktops(QWidget* window) {
    xcb_connection_t* c = connectionOf(window);
    const xcb_atom_t desktop = c != nullptr ? atom(c, "_NET_WM_DESKTOP") : xcb_atom_t{XCB_ATOM_NONE};
    if (desktop == XCB_ATOM_NONE) {
        return;
    }
    // The window-manager hints standard's "all desktops".
    const std::uint32_t allDesktops = 0xFFFFFFFFu;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()), desktop,
                        XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
    xcb_flush(c);
    addStates(window, {"_NET_WM_STATE_STICKY"});
}

void requestNoTaskbarEntry(QWidget* window) {
    addStates(window, {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"});
}

}  // namespace tovak::overlay

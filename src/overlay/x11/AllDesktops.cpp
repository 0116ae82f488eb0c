#include "overlay/AllDesktops.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tovak::overlay {

void requestAllDesktops(QWidget* window) {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr || window == nullptr) {
        return;
    }
    xcb_connection_t* connection = x11->connection();
    static constexpr const char* name = "_NET_WM_DESKTOP";
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    if (reply == nullptr) {
        return;
    }
    // The window-manager hints standard's "all desktops"; set before the first map, the window
    // manager reads it when it takes the window on.
    const std::uint32_t allDesktops = 0xFFFFFFFFu;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()), reply->atom,
                        XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
    xcb_flush(connection);
    std::free(reply);
}

}  // namespace tovak::overlay

#include "app/XEmbedTray.h"

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace tovak::app {

namespace {

// XFixes reports each change of the selection's owner, and the owner's window going away, on Qt's
// own connection.
class XcbXEmbedTray final : public XEmbedTray, public QAbstractNativeEventFilter {
  public:
    XcbXEmbedTray(xcb_connection_t* c, std::function<void()> changed) : c_(c), changed_(std::move(changed)) {
        int screenNumber = 0;
        char* host = nullptr;
        int display = 0;
        if (xcb_parse_display(nullptr, &host, &display, &screenNumber) == 0) {
            screenNumber = 0;
        }
        std::free(host);
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c_));
        for (int i = 0; i < screenNumber && screens.rem > 1; ++i) {
            xcb_screen_next(&screens);
        }
        const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber);
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
        if (atom == nullptr) {
            return;
        }
        selection_ = atom->atom;
        std::free(atom);
        const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c_, &xcb_xfixes_id);
        if (xfixes == nullptr || xfixes->present == 0) {
            return;
        }
        std::free(xcb_xfixes_query_version_reply(c_, xcb_xfixes_query_version(c_, 1, 0), nullptr));
        notifyEvent_ = static_cast<std::uint8_t>(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
        xcb_xfixes_select_selection_input(c_, screens.data->root, selection_,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        xcb_flush(c_);
        QCoreApplication::instance()->installNativeEventFilter(this);
        watching_ = true;
    }
    ~XcbXEmbedTray() override {
        if (watching_ && QCoreApplication::instance() != nullptr) {
            QCoreApplication::instance()->removeNativeEventFilter(this);
        }
    }
    XcbXEmbedTray(const XcbXEmbedTray&) = delete;
    XcbXEmbedTray& operator=(const XcbXEmbedTray&) = delete;

    [[nodiscard]] bool present() const override {
        if (selection_ == XCB_ATOM_NONE) {
            return false;
        }
        xcb_get_selection_owner_reply_t* reply =
            xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, selection_), nullptr);
        const bool owned = reply != nullptr && reply->owner != XCB_WINDOW_NONE;
        std::free(reply);
        return owned;
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type == "xcb_generic_event_t") {
            const auto* event = static_cast<const xcb_generic_event_t*>(message);
            if ((event->response_type & 0x7f) == notifyEvent_ &&
                reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event)->selection == selection_) {
                changed_();
            }
        }
        // Qt still sees the event (its clipboard looks at every selection's notices).
        return false;
    }

  private:
    xcb_connection_t* c_;
    std::function<void()> changed_;
    xcb_atom_t selection_ = XCB_ATOM_NONE;
    std::uint8_t notifyEvent_ = 0;
    bool watching_ = false;
};

}  // namespace

std::unique_ptr<XEmbedTray> XEmbedTray::watch(std::function<void()> changed) {
    // The offscreen platform answers as an X11 application too, without a connection.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) {
        return nullptr;
    }
    return std::make_unique<XcbXEmbedTray>(x11->connection(), std::move(changed));
}

}  // namespace tovak::app

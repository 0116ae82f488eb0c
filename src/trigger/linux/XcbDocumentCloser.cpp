#include "trigger/linux/XcbDocumentCloser.h"

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace tovak::trigger {

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> adopt(T* reply) {
    return Reply<T>(reply, &std::free);
}

enum AtomIndex {
    kNetClientList,
    kNetCloseWindow,
    kNetSupportingWmCheck,
    kNetWmName,
    kUtf8String,
    kWmProtocols,
    kWmDeleteWindow,
    kAtomCount
};

constexpr std::array<const char*, kAtomCount> kAtomNames = {
    "_NET_CLIENT_LIST", "_NET_CLOSE_WINDOW", "_NET_SUPPORTING_WM_CHECK", "_NET_WM_NAME",
    "UTF8_STRING",      "WM_PROTOCOLS",      "WM_DELETE_WINDOW",
};

constexpr xcb_atom_t kNoAtom = 0;

// Titles longer than this are cut; a file name is matched well within it.
constexpr std::uint32_t kMaxPropertyWords = 4096;

class Session {
  public:
    explicit Session(xcb_connection_t* connection) : c_(connection) {}

    bool internAtoms() {
        std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies{};
        for (std::size_t i = 0; i < kAtomCount; ++i) {
            cookies[i] = xcb_intern_atom(
                c_, 0, static_cast<std::uint16_t>(std::char_traits<char>::length(kAtomNames[i])), kAtomNames[i]);
        }
        bool all = true;
        for (std::size_t i = 0; i < kAtomCount; ++i) {
            auto reply = adopt(xcb_intern_atom_reply(c_, cookies[i], nullptr));
            atoms_[i] = reply ? reply->atom : kNoAtom;
            all = all && atoms_[i] != kNoAtom;
        }
        return all;
    }

    [[nodiscard]] xcb_atom_t atom(AtomIndex index) const { return atoms_[index]; }

    // The values of a 32-bit property (windows or atoms), empty when absent.
    std::vector<std::uint32_t> words(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const {
        auto reply = adopt(
            xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, property, type, 0, kMaxPropertyWords), nullptr));
        if (!reply || reply->format != 32 || reply->type != type) {
            return {};
        }
        const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
        const int count = xcb_get_property_value_length(reply.get()) / 4;
        return std::vector<std::uint32_t>(values, values + count);
    }

    std::optional<std::string> text(xcb_window_t window, xcb_atom_t property) const {
        auto reply = adopt(xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxPropertyWords), nullptr));
        if (!reply || reply->format != 8 || reply->type == XCB_ATOM_NONE) {
            return std::nullopt;
        }
        const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
        return std::string(bytes, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    }

    // _NET_WM_NAME, else WM_NAME.
    std::optional<std::string> title(xcb_window_t window) const {
        if (auto name = text(window, atom(kNetWmName))) {
            return name;
        }
        return text(window, XCB_ATOM_WM_NAME);
    }

    std::optional<std::uint32_t> firstWord(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const {
        auto reply = adopt(xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, property, type, 0, 1), nullptr));
        if (!reply || reply->format != 32 || reply->type != type || xcb_get_property_value_length(reply.get()) < 4) {
            return std::nullopt;
        }
        return *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    }

    // A window manager that follows EWMH keeps a check window that names itself; a stale
    // property left by one that has exited names a window that is gone.
    bool ewmhWindowManagerRuns(xcb_window_t root) const {
        std::optional<std::uint32_t> check = firstWord(root, atom(kNetSupportingWmCheck), XCB_ATOM_WINDOW);
        return check && firstWord(*check, atom(kNetSupportingWmCheck), XCB_ATOM_WINDOW) == check;
    }

    std::vector<xcb_window_t> children(xcb_window_t window) const {
        auto reply = adopt(xcb_query_tree_reply(c_, xcb_query_tree(c_, window), nullptr));
        if (!reply) {
            return {};
        }
        const xcb_window_t* list = xcb_query_tree_children(reply.get());
        return std::vector<xcb_window_t>(list, list + xcb_query_tree_children_length(reply.get()));
    }

    void send(xcb_window_t destination, std::uint32_t mask, xcb_window_t window, xcb_atom_t type,
              std::array<std::uint32_t, 2> data) const {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = type;
        event.data.data32[0] = data[0];
        event.data.data32[1] = data[1];
        xcb_send_event(c_, 0, destination, mask, reinterpret_cast<const char*>(&event));
    }

    // Waits until the server has handled every request sent so far.
    void sync() const { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

  private:
    xcb_connection_t* c_;
    std::array<xcb_atom_t, kAtomCount> atoms_{};
};

bool titleMatches(const std::optional<std::string>& title, const std::string& fileName) {
    return title && title->find(fileName) != std::string::npos;
}

// The second field of _NET_CLOSE_WINDOW: the request comes from a tool acting for the user.
constexpr std::uint32_t kSourceIsTool = 2;

}  // namespace

void XcbDocumentCloser::closeDocument(const std::string& standardizedPath) {
    const std::size_t slash = standardizedPath.rfind('/');
    closeWindowsTitled(slash == std::string::npos ? standardizedPath : standardizedPath.substr(slash + 1));
}

XcbDocumentCloser::Report XcbDocumentCloser::closeWindowsTitled(const std::string& fileName) const {
    Report report;
    if (fileName.empty()) {
        return report;
    }
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(display_.empty() ? nullptr : display_.c_str(), &screenNumber), &xcb_disconnect);
    if (xcb_connection_has_error(connection.get()) != 0) {
        return report;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        return report;
    }
    const xcb_window_t root = screens.data->root;
    Session x(connection.get());
    if (!x.internAtoms()) {
        return report;
    }
    report.reachedDisplay = true;

    // A window that does not take WM_DELETE_WINDOW could only be destroyed (a window manager
    // answers _NET_CLOSE_WINDOW for it by killing its client), losing its application's work: it
    // is left alone.
    auto acceptsDelete = [&x](xcb_window_t window) {
        for (std::uint32_t protocol : x.words(window, x.atom(kWmProtocols), XCB_ATOM_ATOM)) {
            if (protocol == x.atom(kWmDeleteWindow)) {
                return true;
            }
        }
        return false;
    };

    if (x.ewmhWindowManagerRuns(root)) {
        report.throughWindowManager = true;
        for (xcb_window_t window : x.words(root, x.atom(kNetClientList), XCB_ATOM_WINDOW)) {
            if (titleMatches(x.title(window), fileName) && acceptsDelete(window)) {
                x.send(root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, window,
                       x.atom(kNetCloseWindow), {XCB_CURRENT_TIME, kSourceIsTool});
                ++report.windowsAsked;
            }
        }
    } else {
        for (xcb_window_t child : x.children(root)) {
            // Under a window manager without EWMH the title sits on the client inside its frame.
            std::vector<xcb_window_t> candidates{child};
            if (!x.title(child)) {
                candidates = x.children(child);
            }
            for (xcb_window_t window : candidates) {
                if (titleMatches(x.title(window), fileName) && acceptsDelete(window)) {
                    x.send(window, XCB_EVENT_MASK_NO_EVENT, window, x.atom(kWmProtocols),
                           {x.atom(kWmDeleteWindow), XCB_CURRENT_TIME});
                    ++report.windowsAsked;
                }
            }
        }
    }
    x.sync();
    return report;
}

}  // namespace tovak::trigger

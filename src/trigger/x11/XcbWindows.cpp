#include "trigger/x11/XcbWindows.h"

namespace tovak::trigger {

namespace {

constexpr std::array<const char*, XcbWindows::kAtomCount> kAtomNames = {
    "_NET_ACTIVE_WINDOW",
    "_NET_CLIENT_LIST",
    "_NET_CLOSE_WINDOW",
    "_NET_SUPPORTED",
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_WM_DESKTOP",
    "_NET_WM_NAME",
    "_NET_WM_STATE",
    "_NET_WM_STATE_ABOVE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_STATE_SKIP_PAGER",
    "_NET_WM_STATE_SKIP_TASKBAR",
    "_NET_WM_STATE_STICKY",
    "UTF8_STRING",
    "WM_PROTOCOLS",
    "WM_DELETE_WINDOW",
};

constexpr xcb_atom_t kNoAtom = 0;

// Titles longer than this are cut; a file name is matched well within it.
constexpr std::uint32_t kMaxPropertyWords = 4096;

}  // namespace

std::unique_ptr<XcbWindows> XcbWindows::connect(const std::string& display) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    std::unique_ptr<XcbWindows> windows(new XcbWindows(connection, screens.data->root));
    if (!windows->internAtoms()) {
        return nullptr;
    }
    return windows;
}

XcbWindows::~XcbWindows() {
    xcb_disconnect(c_);
}

bool XcbWindows::internAtoms() {
    std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies{};
    for (std::size_t i = 0; i < kAtomCount; ++i) {
        cookies[i] = xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::char_traits<char>::length(kAtomNames[i])),
                                     kAtomNames[i]);
    }
    bool all = true;
    for (std::size_t i = 0; i < kAtomCount; ++i) {
        auto reply = adoptReply(xcb_intern_atom_reply(c_, cookies[i], nullptr));
        atoms_[i] = reply ? reply->atom : kNoAtom;
        all = all && atoms_[i] != kNoAtom;
    }
    return all;
}

std::vector<std::uint32_t> XcbWindows::words(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const {
    auto reply = adoptReply(
        xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, property, type, 0, kMaxPropertyWords), nullptr));
    if (!reply || reply->format != 32 || reply->type != type) {
        return {};
    }
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<std::uint32_t>(values, values + count);
}

bool XcbWindows::hasWord(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, std::uint32_t value) const {
    for (std::uint32_t word : words(window, property, type)) {
        if (word == value) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> XcbWindows::text(xcb_window_t window, xcb_atom_t property) const {
    auto reply = adoptReply(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxPropertyWords), nullptr));
    if (!reply || reply->format != 8 || reply->type == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return std::string(bytes, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

std::optional<std::string> XcbWindows::title(xcb_window_t window) const {
    if (auto name = text(window, atom(kNetWmName))) {
        return name;
    }
    return text(window, XCB_ATOM_WM_NAME);
}

std::optional<std::uint32_t> XcbWindows::firstWord(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const {
    auto reply = adoptReply(xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, property, type, 0, 1), nullptr));
    if (!reply || reply->format != 32 || reply->type != type || xcb_get_property_value_length(reply.get()) < 4) {
        return std::nullopt;
    }
    return *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
}

bool XcbWindows::ewmhWindowManagerRuns() const {
    std::optional<std::uint32_t> check = firstWord(root_, atom(kNetSupportingWmCheck), XCB_ATOM_WINDOW);
    return check && firstWord(*check, atom(kNetSupportingWmCheck), XCB_ATOM_WINDOW) == check;
}

std::vector<xcb_window_t> XcbWindows::children(xcb_window_t window) const {
    auto reply = adoptReply(xcb_query_tree_reply(c_, xcb_query_tree(c_, window), nullptr));
    if (!reply) {
        return {};
    }
    const xcb_window_t* list = xcb_query_tree_children(reply.get());
    return std::vector<xcb_window_t>(list, list + xcb_query_tree_children_length(reply.get()));
}

bool XcbWindows::supported(AtomIndex hint) const {
    return ewmhWindowManagerRuns() && hasWord(root_, atom(kNetSupported), XCB_ATOM_ATOM, atom(hint));
}

std::vector<xcb_window_t> XcbWindows::windowsWhere(const std::function<bool(const std::string&)>& matches) const {
    std::vector<xcb_window_t> found;
    const auto take = [&](xcb_window_t window) {
        const std::optional<std::string> name = title(window);
        if (name && matches(*name)) {
            found.push_back(window);
        }
        return name.has_value();
    };
    // An empty list is still the window manager's word; only a missing one sends us to the tree.
    auto list = adoptReply(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, root_, atom(kNetClientList), XCB_ATOM_WINDOW, 0, kMaxPropertyWords), nullptr));
    if (ewmhWindowManagerRuns() && list && list->type == XCB_ATOM_WINDOW && list->format == 32) {
        const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
        for (int i = 0; i < xcb_get_property_value_length(list.get()) / 4; ++i) {
            take(ids[i]);
        }
        return found;
    }
    for (xcb_window_t child : children(root_)) {
        // A window manager's frame carries no title; the client inside it does.
        if (!take(child)) {
            for (xcb_window_t inner : children(child)) {
                take(inner);
            }
        }
    }
    return found;
}

void XcbWindows::send(xcb_window_t destination, std::uint32_t mask, xcb_window_t window, xcb_atom_t type,
                      std::array<std::uint32_t, 4> data) const {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = data[0];
    event.data.data32[1] = data[1];
    event.data.data32[2] = data[2];
    event.data.data32[3] = data[3];
    xcb_send_event(c_, 0, destination, mask, reinterpret_cast<const char*>(&event));
}

void XcbWindows::askWindowManager(xcb_window_t window, AtomIndex type, std::array<std::uint32_t, 4> data) const {
    send(root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, window, atom(type), data);
}

void XcbWindows::sync() const {
    std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
}

}  // namespace tovak::trigger

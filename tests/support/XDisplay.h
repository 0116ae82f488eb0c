#pragma once

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"

namespace tovak::testing {

using Clock = std::chrono::steady_clock;

inline xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t result = reply != nullptr ? reply->atom : 0;
    std::free(reply);
    return result;
}

// An X server of the test's own (Xvfb), with or without a window manager, and a client on it that
// owns the test windows and hears what they are asked.
class XDisplay {
  public:
    explicit XDisplay(bool windowManager) : wmReady_(!windowManager) {
        const std::string number =
            spawnAndReadLine({"Xvfb", "-displayfd", "{fd}", "-screen", "0", "640x480x24", "-nolisten", "tcp"}, xvfb_);
        if (number.empty()) {
            return;
        }
        name_ = ":" + number;
        c_ = xcb_connect(name_.c_str(), nullptr);
        if (xcb_connection_has_error(c_) != 0) {
            return;
        }
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        wmProtocols_ = atom(c_, "WM_PROTOCOLS");
        wmDelete_ = atom(c_, "WM_DELETE_WINDOW");
        if (windowManager) {
            openbox_ = spawnChild({"openbox", "--sm-disable"}, {.display = name_, .quietStderr = true});
            wmReady_ = waitUntil([&] { return windowManagerReady(c_); }, 20);
        }
    }
    // The window manager's check window and client list, the last thing openbox publishes as it starts.
    static bool windowManagerReady(xcb_connection_t* c) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const auto published = [&](const char* name) {
            xcb_get_property_reply_t* reply =
                xcb_get_property_reply(c, xcb_get_property(c, 0, root, atom(c, name), XCB_ATOM_ANY, 0, 1), nullptr);
            const bool present = reply != nullptr && reply->type != 0;
            std::free(reply);
            return present;
        };
        return published("_NET_SUPPORTING_WM_CHECK") && published("_NET_CLIENT_LIST");
    }
    ~XDisplay() {
        if (c_ != nullptr) {
            xcb_disconnect(c_);
        }
        stopChild(openbox_);
        stopChild(xvfb_);
    }
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    // Xvfb, and openbox when asked for, are up.
    [[nodiscard]] bool ready() const { return c_ != nullptr && xcb_connection_has_error(c_) == 0 && wmReady_; }
    [[nodiscard]] const std::string& name() const { return name_; }

    [[nodiscard]] xcb_connection_t* connection() const { return c_; }
    [[nodiscard]] xcb_window_t root() const { return root_; }

    // A mapped top-level window with this title (in _NET_WM_NAME, or only in WM_NAME); inside
    // `parent` (a frame of the test's making) when given.
    xcb_window_t window(const std::string& title, bool netWmName = true, bool acceptsDelete = true,
                        xcb_window_t parent = 0) {
        const xcb_window_t id = xcb_generate_id(c_);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id, parent != 0 ? parent : root_, 10, 10, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, id,
                            netWmName ? atom(c_, "_NET_WM_NAME") : xcb_atom_t{XCB_ATOM_WM_NAME},
                            netWmName ? atom(c_, "UTF8_STRING") : xcb_atom_t{XCB_ATOM_STRING}, 8,
                            static_cast<std::uint32_t>(title.size()), title.data());
        if (acceptsDelete) {
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, id, wmProtocols_, XCB_ATOM_ATOM, 32, 1, &wmDelete_);
        }
        xcb_map_window(c_, id);
        xcb_flush(c_);
        if (parent == 0) {
            windows_.push_back(id);
        }
        return id;
    }

    // Waits until the window manager lists every test window as a client.
    bool managed() {
        auto nextRemap = Clock::now() + std::chrono::seconds(1);
        return waitUntil([&] {
            std::set<xcb_window_t> listed;
            xcb_get_property_reply_t* reply = xcb_get_property_reply(
                c_, xcb_get_property(c_, 0, root_, atom(c_, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 1024), nullptr);
            if (reply != nullptr) {
                const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
                listed.insert(ids, ids + xcb_get_property_value_length(reply) / 4);
                std::free(reply);
            }
            // A window mapped while openbox is still settling can slip past it; mapping it again
            // hands it over, as it would for an application that shows its window a second time.
            const bool remap = Clock::now() >= nextRemap;
            bool all = true;
            for (xcb_window_t w : windows_) {
                if (listed.count(w) == 0 && remap) {
                    xcb_unmap_window(c_, w);
                    xcb_map_window(c_, w);
                }
                all = all && listed.count(w) > 0;
            }
            if (remap) {
                xcb_flush(c_);
                nextRemap = Clock::now() + std::chrono::seconds(1);
            }
            return all;
        });
    }

    // The windows that were asked to close (WM_DELETE_WINDOW), waiting until all of `expected` are
    // among them and then a little longer for any stray request.
    std::set<xcb_window_t> askedToClose(const std::set<xcb_window_t>& expected) {
        std::set<xcb_window_t> asked;
        bool seen = expected.empty();
        auto deadline = Clock::now() + (seen ? std::chrono::milliseconds(500) : std::chrono::seconds(10));
        while (Clock::now() < deadline) {
            xcb_generic_event_t* event = xcb_poll_for_event(c_);
            if (event == nullptr) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == wmProtocols_ &&
                message->data.data32[0] == wmDelete_) {
                asked.insert(message->window);
                if (!seen && std::includes(asked.begin(), asked.end(), expected.begin(), expected.end())) {
                    seen = true;
                    deadline = Clock::now() + std::chrono::milliseconds(500);
                }
            }
            std::free(event);
        }
        return asked;
    }

    // True as soon as condition is seen true: it is asked once more only after a pause, never to
    // confirm, so a state that holds for a moment (a focus the desktop moves on from) still counts.
    static bool waitUntil(const std::function<bool()>& condition, int seconds = 10) {
        const auto deadline = Clock::now() + std::chrono::seconds(seconds);
        while (!condition()) {
            if (Clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    bool exists(xcb_window_t window) {
        xcb_get_geometry_reply_t* reply = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr);
        std::free(reply);
        return reply != nullptr;
    }

  private:
    pid_t xvfb_ = -1;
    pid_t openbox_ = -1;
    std::string name_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t wmProtocols_ = 0, wmDelete_ = 0;
    std::vector<xcb_window_t> windows_;
    bool wmReady_;
};

}  // namespace tovak::testing

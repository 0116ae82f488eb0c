#include <gtest/gtest.h>
#include <unistd.h>
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
#include "trigger/linux/XcbDocumentCloser.h"

namespace tovak::trigger {
namespace {

using Clock = std::chrono::steady_clock;

pid_t spawnWith(const std::vector<std::string>& command, const std::string& display) {
    return testing::spawnChild(command, {.stdoutFd = -1, .display = display, .quietStderr = true});
}

// An X server of the test's own (Xvfb), with or without a window manager (openbox), and a client
// on it that owns the test windows and hears what they are asked.
class XDisplay {
  public:
    explicit XDisplay(bool windowManager) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        xvfb_ = spawnWith(
            {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "640x480x24", "-nolisten", "tcp"}, "");
        ::close(fds[1]);
        for (char ch = 0; ::read(fds[0], &ch, 1) == 1 && ch != '\n';) {
            name_ += ch;
        }
        ::close(fds[0]);
        if (name_.empty() || xcb_connection_has_error(c_ = xcb_connect((name_ = ":" + name_).c_str(), nullptr))) {
            return;
        }
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        ready_ = true;
        if (windowManager) {
            openbox_ = spawnWith({"openbox", "--sm-disable"}, name_);
            // The client list is the last thing openbox publishes as it starts; windows mapped
            // before then may be missed.
            ready_ = waitUntil(20, [&] {
                return hasProperty(atom("_NET_SUPPORTING_WM_CHECK")) && hasProperty(atom("_NET_CLIENT_LIST"));
            });
        }
    }
    ~XDisplay() {
        if (c_ != nullptr) {
            xcb_disconnect(c_);
        }
        testing::stopChild(openbox_);
        testing::stopChild(xvfb_);
    }
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] const std::string& name() const { return name_; }

    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t result = reply != nullptr ? reply->atom : 0;
        std::free(reply);
        return result;
    }

    // A mapped top-level window with this title (in _NET_WM_NAME, or only in WM_NAME).
    xcb_window_t window(const std::string& title, bool netWmName = true, bool acceptsDelete = true) {
        const xcb_window_t id = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id, root_, 10, 10, 200, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root_visual, 0, nullptr);
        const xcb_atom_t property = netWmName ? atom("_NET_WM_NAME") : xcb_atom_t{XCB_ATOM_WM_NAME};
        const xcb_atom_t type = netWmName ? atom("UTF8_STRING") : xcb_atom_t{XCB_ATOM_STRING};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, id, property, type, 8, static_cast<std::uint32_t>(title.size()),
                            title.data());
        const xcb_atom_t remove = atom("WM_DELETE_WINDOW");
        if (acceptsDelete) {
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, id, atom("WM_PROTOCOLS"), XCB_ATOM_ATOM, 32, 1, &remove);
        }
        xcb_map_window(c_, id);
        xcb_flush(c_);
        windows_.push_back(id);
        return id;
    }

    // Waits until the window manager lists every test window as a client.
    bool managed() {
        auto nextRemap = Clock::now() + std::chrono::seconds(1);
        return waitUntil(10, [&] {
            auto* reply = xcb_get_property_reply(
                c_, xcb_get_property(c_, 0, root_, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 1024), nullptr);
            std::set<xcb_window_t> listed;
            if (reply != nullptr) {
                const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
                listed.insert(ids, ids + xcb_get_property_value_length(reply) / 4);
                std::free(reply);
            }
            const bool all = std::all_of(windows_.begin(), windows_.end(), [&](auto w) { return listed.count(w); });
            // A window mapped while openbox is still settling can slip past it; mapping it again
            // hands it over, as it would for an application that shows its window a second time.
            if (!all && Clock::now() >= nextRemap) {
                for (xcb_window_t w : windows_) {
                    if (listed.count(w) == 0) {
                        xcb_unmap_window(c_, w);
                        xcb_map_window(c_, w);
                    }
                }
                xcb_flush(c_);
                nextRemap = Clock::now() + std::chrono::seconds(1);
            }
            return all;
        });
    }

    // The windows that were asked to close (WM_DELETE_WINDOW), waiting until `expected` is among
    // them and then half a second longer for any stray request.
    std::set<xcb_window_t> askedToClose(xcb_window_t expected) {
        std::set<xcb_window_t> asked;
        auto deadline = Clock::now() + (expected == 0 ? std::chrono::milliseconds(500) : std::chrono::seconds(10));
        const xcb_atom_t protocols = atom("WM_PROTOCOLS");
        const xcb_atom_t remove = atom("WM_DELETE_WINDOW");
        while (Clock::now() < deadline) {
            xcb_generic_event_t* event = xcb_poll_for_event(c_);
            if (event == nullptr) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == protocols &&
                message->data.data32[0] == remove && asked.insert(message->window).second &&
                message->window == expected) {
                deadline = Clock::now() + std::chrono::milliseconds(500);
            }
            std::free(event);
        }
        return asked;
    }

    bool exists(xcb_window_t window) {
        xcb_get_geometry_reply_t* reply = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr);
        std::free(reply);
        return reply != nullptr;
    }

  private:
    static bool waitUntil(int seconds, const std::function<bool()>& condition) {
        const auto deadline = Clock::now() + std::chrono::seconds(seconds);
        while (!condition()) {
            if (Clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }
    bool hasProperty(xcb_atom_t property) {
        auto* reply = xcb_get_property_reply(c_, xcb_get_property(c_, 0, root_, property, XCB_ATOM_ANY, 0, 1), nullptr);
        const bool present = reply != nullptr && reply->type != 0;
        std::free(reply);
        return present;
    }

    pid_t xvfb_ = -1;
    pid_t openbox_ = -1;
    std::string name_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    std::vector<xcb_window_t> windows_;
    bool ready_ = false;
};

// Each test starts its own X server; the window manager is what tells the two tests apart.
TEST(XcbDocumentCloser, ThroughTheWindowManagerOnlyTheDocumentWindowThatCanBeAskedIsAsked) {
    XDisplay x(true);
    ASSERT_TRUE(x.ready()) << "Xvfb or openbox did not start";
    const xcb_window_t other = x.window("Отчёт.csv — LibreOffice Calc");
    const xcb_window_t document = x.window("Бюджет Q3.csv — LibreOffice Calc");
    const xcb_window_t stubborn = x.window("Бюджет Q3.csv — xterm", true, false);  // could only be killed
    ASSERT_TRUE(x.managed());
    const XcbDocumentCloser::Report report = XcbDocumentCloser(x.name()).closeWindowsTitled("Бюджет Q3.csv");
    EXPECT_TRUE(report.reachedDisplay);
    EXPECT_TRUE(report.throughWindowManager);
    EXPECT_EQ(report.windowsAsked, 1);
    EXPECT_EQ(x.askedToClose(document), std::set<xcb_window_t>{document});
    EXPECT_TRUE(x.exists(other) && x.exists(stubborn));
}

TEST(XcbDocumentCloser, WithoutAWindowManagerEachMatchingWindowGetsItsOwnDeleteMessage) {
    XDisplay x(false);
    ASSERT_TRUE(x.ready()) << "Xvfb did not start";
    const std::string hostile = "-rf \"$(touch x)\"; `id` *.csv";
    const xcb_window_t other = x.window("Бюджет Q4.csv — Calc");
    const xcb_window_t document = x.window("Бюджет Q3.csv — Calc");
    const xcb_window_t second = x.window("Бюджет Q3.csv (только чтение)", false);
    const xcb_window_t stubborn = x.window("Бюджет Q3.csv — xterm", true, false);
    const xcb_window_t strange = x.window(hostile + " — Calc");
    const xcb_window_t plain = x.window("rf x.csv — Calc");
    XcbDocumentCloser closer(x.name());
    // Empty names match nothing.
    EXPECT_EQ(closer.closeWindowsTitled("").windowsAsked, 0);
    closer.closeDocument("/tmp/folder/");
    EXPECT_TRUE(x.askedToClose(0).empty());

    const XcbDocumentCloser::Report report = closer.closeWindowsTitled("Бюджет Q3.csv");
    EXPECT_TRUE(report.reachedDisplay);
    EXPECT_FALSE(report.throughWindowManager);
    EXPECT_EQ(report.windowsAsked, 2);
    std::set<xcb_window_t> asked = x.askedToClose(document);
    if (asked.count(second) == 0) {
        asked.merge(x.askedToClose(second));
    }
    EXPECT_EQ(asked, (std::set<xcb_window_t>{document, second}));
    // Hostile names match literally; the file name is taken from the path.
    closer.closeDocument("/tmp/" + hostile);
    EXPECT_EQ(x.askedToClose(strange), std::set<xcb_window_t>{strange});
    for (xcb_window_t window : {other, stubborn, plain}) {
        EXPECT_TRUE(x.exists(window)) << window;
    }
}

TEST(XcbDocumentCloser, UnreachableDisplayIsIgnored) {
    const XcbDocumentCloser::Report report = XcbDocumentCloser(":4095").closeWindowsTitled("Бюджет.csv");
    EXPECT_FALSE(report.reachedDisplay);
    EXPECT_EQ(report.windowsAsked, 0);
}

}  // namespace
}  // namespace tovak::trigger

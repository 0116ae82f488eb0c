// The wlroots window control (and the X11 one on sway's XWayland) against a real headless sway,
// with native Wayland (foot) and XWayland (xterm) windows titled with the trigger file's name.
#include <gtest/gtest.h>

#include "support/SwayDesktop.h"
#include "trigger/wlroots/WlrootsWindowControl.h"
#include "trigger/x11/X11WindowControl.h"

namespace tovak::trigger {
namespace {

using testing::SwayDesktop;
using testing::XDisplay;
using Outcome = WindowControl::Outcome;

class Sway : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!SwayDesktop::installed()) {
            GTEST_SKIP() << "sway is not installed (scripts/packages/desktops.txt)";
        }
        sway_ = std::make_unique<SwayDesktop>();
        ASSERT_TRUE(sway_->ready()) << "sway did not start";
        control_ = WlrootsWindowControl::connect(sway_->waylandSocket(), sway_->swaySocket());
        ASSERT_NE(control_, nullptr) << "no foreign-toplevel manager";
    }
    // Starts a window through sway and waits until its tree shows it.
    bool start(const std::string& command, const std::string& title) {
        return sway_->run("exec " + command) &&
               XDisplay::waitUntil([&] { return sway_->windowsNamed(title).size() == 1; }, 20);
    }

    std::unique_ptr<SwayDesktop> sway_;
    std::shared_ptr<WlrootsWindowControl> control_;
};

// Also after a native window renamed itself 30000 times in a row (what the compositor says meanwhile would
// fill a connection nobody reads), and after sway was restarted (the control connects again).
TEST_F(Sway, NativeAndXWaylandWindowsAreFoundRaisedAndClosedByTitle) {
    const struct Row {
        const char* name;
        std::string command;
        const char* title;
        bool restart;
    } rows[] = {
        {"native Wayland", "foot -T 'Бюджет Q3.csv — foot' sleep 600", "Бюджет Q3.csv — foot", false},
        {"XWayland", "xterm -T 'Бюджет Q3.csv — xterm' -e sleep 600", "Бюджет Q3.csv — xterm", false},
        {"renamed 30000 times",
         std::string("QT_QPA_PLATFORM=wayland TOVAK_RETITLE=30000 ") + TOVAK_TEST_WINDOW + " 'Бюджет Q3.csv — окно'",
         "Бюджет Q3.csv — окно", false},
        {"after a restart", "foot -T 'Бюджет Q3.csv — foot' sleep 600", "Бюджет Q3.csv — foot", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.restart) {
            const std::string socket = sway_->waylandSocket();
            ASSERT_TRUE(sway_->restart());
            ASSERT_EQ(sway_->waylandSocket(), socket);
        }
        const std::unique_ptr<ToplevelConnection> one = ToplevelConnection::open(sway_->waylandSocket());
        ASSERT_NE(one, nullptr);
        ASSERT_TRUE(start(row.command, row.title));
        // sway's tree may show the window before the compositor's events about it reach this client.
        EXPECT_TRUE(
            XDisplay::waitUntil([&] { return one->act(ToplevelConnection::Action::count, "Бюджет Q3.csv") == 1; }, 20))
            << "one connection keeps up";
        ASSERT_TRUE(start("foot -T 'Отчёт.csv — foot' sleep 600", "Отчёт.csv — foot"));
        ASSERT_TRUE(XDisplay::waitUntil([&] { return sway_->focused("Отчёт.csv — foot"); }));
        EXPECT_EQ(control_->countWindowsTitled("Бюджет Q3.csv"), 1);
        EXPECT_EQ(control_->countWindowsTitled(""), 0);
        EXPECT_EQ(control_->raiseWindowsTitled("Бюджет Q3.csv"), Outcome::done);
        EXPECT_TRUE(XDisplay::waitUntil([&] { return sway_->focused(row.title); }));
        EXPECT_EQ(control_->closeWindowsTitled("Бюджет Q3.csv"), Outcome::done);
        EXPECT_TRUE(XDisplay::waitUntil([&] { return sway_->windowsNamed(row.title).empty(); }));
        EXPECT_EQ(control_->countWindowsTitled("Бюджет Q3.csv"), 0);
        EXPECT_EQ(control_->raiseWindowsTitled("Бюджет Q3.csv"), Outcome::noWindow);
        EXPECT_EQ(sway_->windowsNamed("Отчёт.csv — foot").size(), 1u);
        EXPECT_EQ(control_->closeWindowsTitled("Отчёт.csv"), Outcome::done);
        EXPECT_TRUE(XDisplay::waitUntil([&] { return sway_->windows().empty(); }));
    }
}

TEST_F(Sway, ThePanelIsPinnedWhereAskedAndTheActiveScreenIsTheFocusedOutput) {
    ASSERT_TRUE(start("foot -T 'Товак — панель' sleep 600", "Товак — панель"));
    EXPECT_EQ(control_->placePanel("Товак", {0, 0, 280, 210}), Outcome::noWindow);
    // The lower right corner of HEADLESS-2, 16 px in.
    EXPECT_EQ(control_->placePanel("Товак — панель", {2008, 542, 280, 210}), Outcome::done);
    // sway settles the window's frame once the client has taken the new size.
    EXPECT_TRUE(XDisplay::waitUntil([&] {
        const auto panel = sway_->windowsNamed("Товак — панель");
        return panel.size() == 1 && panel.front().floating && panel.front().sticky &&
               panel.front().rect == DesktopRect{2008, 542, 280, 210};
    }));

    const struct Row {
        const char* output;
        DesktopRect screen;
    } rows[] = {{"HEADLESS-2", {1280, 0, 1024, 768}}, {"HEADLESS-1", {0, 0, 1280, 720}}};
    // The X11 backend sees the same screens through XWayland's RandR outputs.
    const std::shared_ptr<X11WindowControl> x11 = X11WindowControl::connect(sway_->x11Display());
    ASSERT_NE(x11, nullptr);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        ASSERT_TRUE(sway_->run(std::string("focus output ") + row.output));
        const std::string title = std::string("Бюджет — xterm на ") + row.output;
        ASSERT_TRUE(start("xterm -T '" + title + "' -e sleep 600", title));
        EXPECT_EQ(control_->activeScreen(), row.screen);
        EXPECT_TRUE(XDisplay::waitUntil([&] { return x11->activeScreen() == row.screen; }));
        // sway ignores _NET_CLOSE_WINDOW: the client's own close message is sent instead.
        EXPECT_EQ(x11->closeWindowsTitled(title), Outcome::done);
        EXPECT_TRUE(XDisplay::waitUntil([&] { return sway_->windowsNamed(title).empty(); }));
    }
}

}  // namespace
}  // namespace tovak::trigger

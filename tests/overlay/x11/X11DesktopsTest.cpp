// Under an X server (the test runs in Xvfb): both face windows ask to be on every virtual desktop,
// and under a window manager the panel is pinned through the X11 window control at every show.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include "overlay/FullscreenFaceController.h"
#include "overlay/PiPWindowController.h"
#include "overlay/SessionWindows.h"
#include "runtime/SerialQueue.h"
#include "runtime/qt/QtMainQueue.h"
#include "support/QtTest.h"
#include "support/XDisplay.h"
#include "trigger/x11/X11WindowControl.h"
#include "trigger/x11/XcbWindows.h"

namespace tovak::overlay {
namespace {

// A property of the window as its X server holds it, its bytes as they are; empty when absent.
std::string propertyOf(QWidget* window, const char* name, xcb_atom_t type) {
    xcb_connection_t* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, static_cast<xcb_window_t>(window->winId()), testing::atom(c, name), type, 0, 256),
        nullptr);
    std::string value;
    if (reply != nullptr) {
        value.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                     static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    }
    std::free(reply);
    return value;
}

// And the desktop's window control is asked for the panel by the title the X server holds, the
// application's display name after its own.
TEST(X11Desktops, BothWindowsAskForEveryDesktopAndThePanelIsSoughtByItsTitleOnScreen) {
    ASSERT_NE(qGuiApp->nativeInterface<QNativeInterface::QX11Application>(), nullptr) << "needs the xcb platform";
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Товак"));
    auto main = std::make_shared<runtime::QtMainQueue>();
    auto pip = PiPWindowController::create(main);
    auto fullscreen = FullscreenFaceController::create(main);
    pip->show();
    fullscreen->show();
    testing::drainEvents();
    ASSERT_TRUE(pip->panel() != nullptr && fullscreen->window() != nullptr);
    const std::string allDesktops(4, '\xff');
    EXPECT_EQ(propertyOf(pip->panel(), "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL), allDesktops);
    EXPECT_EQ(propertyOf(fullscreen->window(), "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL), allDesktops);
    xcb_connection_t* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    EXPECT_EQ(propertyOf(pip->panel(), "_NET_WM_NAME", testing::atom(c, "UTF8_STRING")),
              PiPWindowController::shownTitle());
    EXPECT_EQ(PiPWindowController::shownTitle(), "Товак — панель — Товак");
}

TEST(X11Desktops, UnderAWindowManagerThePanelIsPinnedAboveOnEveryDesktopInTheCornerAtEveryShow) {
    ASSERT_NE(qGuiApp->nativeInterface<QNativeInterface::QX11Application>(), nullptr) << "needs the xcb platform";
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Товак"));
    const std::string display = qEnvironmentVariable("DISPLAY").toStdString();
    const pid_t openbox = testing::spawnChild({"openbox", "--sm-disable"}, {.display = display, .quietStderr = true});
    const std::unique_ptr<trigger::XcbWindows> x = trigger::XcbWindows::connect(display);
    ASSERT_NE(x, nullptr);
    using X = trigger::XcbWindows;
    const bool managed =
        testing::XDisplay::waitUntil([&] { return testing::XDisplay::windowManagerReady(x->connection()); });
    auto main = std::make_shared<runtime::QtMainQueue>();
    auto worker = std::make_shared<runtime::SerialQueue>("tovak.windows");
    auto session = SessionWindows::create(trigger::X11WindowControl::connect(display), worker, main);
    auto pip = PiPWindowController::create(main, primaryScreen(), session);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint corner(screen.right() + 1 - 280 - 16, screen.bottom() + 1 - 210 - 16);
    const auto hasState = [&](xcb_window_t window, X::AtomIndex state) {
        return x->hasWord(window, x->atom(X::kNetWmState), XCB_ATOM_ATOM, x->atom(state));
    };
    // Each part is waited for on its own, so that a failure names the one the window manager never gave.
    const auto wait = [](const char* what, const std::function<bool()>& condition) {
        const bool met = testing::XDisplay::waitUntil([&] { return QCoreApplication::processEvents(), condition(); });
        EXPECT_TRUE(met) << what;
        return met;
    };
    for (int show = 0; show < 3 && managed; ++show) {
        SCOPED_TRACE(show);
        pip->show();
        ASSERT_TRUE(wait("the panel is visible", [&] { return pip->panel() != nullptr && pip->panel()->isVisible(); }));
        const auto panel = static_cast<xcb_window_t>(pip->panel()->winId());
        const auto listed = [&] { return x->hasWord(x->root(), x->atom(X::kNetClientList), XCB_ATOM_WINDOW, panel); };
        // A window mapped while openbox still settles can slip past it: shown again each second, it is taken.
        ASSERT_TRUE(wait("the window manager manages the panel", [&, polls = 0]() mutable {
            return listed() || (++polls % 50 == 0 && (pip->hide(), pip->show(), false));
        }));
        wait("above", [&] { return hasState(panel, X::kNetWmStateAbove); });
        wait("not in the taskbar", [&] { return hasState(panel, X::kNetWmStateSkipTaskbar); });
        wait("on every desktop",
             [&] { return x->hasWord(panel, x->atom(X::kNetWmDesktop), XCB_ATOM_CARDINAL, 0xFFFFFFFFu); });
        wait("in the corner", [&] { return pip->panel()->frameGeometry().topLeft() == corner; });
        pip->hide();
        ASSERT_TRUE(wait("the window manager lets go of the hidden panel", [&] { return !listed(); }));
    }
    worker->shutdown();
    testing::stopChild(openbox);
    EXPECT_TRUE(managed) << "openbox did not start";
}

}  // namespace
}  // namespace tovak::overlay

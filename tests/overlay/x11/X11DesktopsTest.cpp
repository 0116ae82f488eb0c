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
    const bool managed = testing::XDisplay::waitUntil([&] { return x->ewmhWindowManagerRuns(); });
    auto main = std::make_shared<runtime::QtMainQueue>();
    auto worker = std::make_shared<runtime::SerialQueue>("tovak.windows");
    auto session = SessionWindows::create(trigger::X11WindowControl::connect(display), worker, main);
    auto pip = PiPWindowController::create(main, primaryScreen(), session);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint corner(screen.right() + 1 - 280 - 16, screen.bottom() + 1 - 210 - 16);
    const auto hasState = [&](xcb_window_t window, trigger::XcbWindows::AtomIndex state) {
        return x->hasWord(window, x->atom(trigger::XcbWindows::kNetWmState), XCB_ATOM_ATOM, x->atom(state));
    };
    const auto wait = [](const std::function<bool()>& condition) {
        return testing::XDisplay::waitUntil([&] {
            QCoreApplication::processEvents();
            return condition();
        });
    };
    for (int show = 0; show < 3 && managed; ++show) {
        SCOPED_TRACE(show);
        pip->show();
        ASSERT_TRUE(wait([&] { return pip->panel() != nullptr && pip->panel()->isVisible(); }));
        const auto panel = static_cast<xcb_window_t>(pip->panel()->winId());
        EXPECT_TRUE(wait([&] {
            return hasState(panel, trigger::XcbWindows::kNetWmStateAbove) &&
                   hasState(panel, trigger::XcbWindows::kNetWmStateSkipTaskbar) &&
                   x->hasWord(panel, x->atom(trigger::XcbWindows::kNetWmDesktop), XCB_ATOM_CARDINAL, 0xFFFFFFFFu) &&
                   pip->panel()->frameGeometry().topLeft() == corner;
        }));
        pip->hide();
        EXPECT_TRUE(wait([&] {
            auto* attributes = xcb_get_window_attributes_reply(
                x->connection(), xcb_get_window_attributes(x->connection(), panel), nullptr);
            const bool unmapped = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_UNMAPPED;
            std::free(attributes);
            return unmapped;
        }));
    }
    worker->shutdown();
    testing::stopChild(openbox);
    EXPECT_TRUE(managed) << "openbox did not start";
}

}  // namespace
}  // namespace tovak::overlay

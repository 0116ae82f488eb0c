// Under an X server (the test runs in Xvfb): both face windows ask to be on every virtual desktop.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include "overlay/FullscreenFaceController.h"
#include "overlay/PiPWindowController.h"
#include "runtime/qt/QtMainQueue.h"
#include "support/QtTest.h"
#include "support/XDisplay.h"

namespace tovak::overlay {
namespace {

// The window's _NET_WM_DESKTOP as its X server holds it, or none.
std::optional<std::uint32_t> desktopOf(QWidget* window) {
    xcb_connection_t* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    auto* reply = xcb_get_property_reply(c,
                                         xcb_get_property(c, 0, static_cast<xcb_window_t>(window->winId()),
                                                          testing::atom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 0, 1),
                                         nullptr);
    std::optional<std::uint32_t> value;
    if (reply != nullptr && xcb_get_property_value_length(reply) == 4) {
        std::memcpy(&value.emplace(), xcb_get_property_value(reply), 4);
    }
    std::free(reply);
    return value;
}

TEST(X11Desktops, BothWindowsAskForEveryDesktop) {
    ASSERT_NE(qGuiApp->nativeInterface<QNativeInterface::QX11Application>(), nullptr) << "needs the xcb platform";
    auto main = std::make_shared<runtime::QtMainQueue>();
    auto pip = PiPWindowController::create(main);
    auto fullscreen = FullscreenFaceController::create(main);
    pip->show();
    fullscreen->show();
    testing::drainEvents();
    ASSERT_TRUE(pip->panel() != nullptr && fullscreen->window() != nullptr);
    EXPECT_EQ(desktopOf(pip->panel()), 0xFFFFFFFFu);
    EXPECT_EQ(desktopOf(fullscreen->window()), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace tovak::overlay

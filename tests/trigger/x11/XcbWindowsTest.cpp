// The X11 window control against an X server of its own (Xvfb), with and without a window manager.
#include <gtest/gtest.h>

#include "support/XDisplay.h"
#include "trigger/x11/X11WindowControl.h"
#include "trigger/x11/XcbWindows.h"

namespace tovak::trigger {
namespace {

using testing::XDisplay;
using Outcome = WindowControl::Outcome;

void setWords(XDisplay& x11, xcb_window_t window, const char* property, xcb_atom_t type,
              std::vector<std::uint32_t> words) {
    xcb_change_property(x11.connection(), XCB_PROP_MODE_REPLACE, window, testing::atom(x11.connection(), property),
                        type, 32, static_cast<std::uint32_t>(words.size()), words.data());
    xcb_flush(x11.connection());
}

TEST(X11WithoutWindowManager, EachMatchingWindowGetsItsOwnDeleteMessageAndFramesAreLookedInto) {
    XDisplay x11(false);
    ASSERT_TRUE(x11.ready()) << "Xvfb did not start";
    EXPECT_EQ(X11WindowControl::connect(":4095"), nullptr);
    const std::string hostile = "-rf \"$(touch x)\"; `id` *.csv";
    const xcb_window_t other = x11.window("Бюджет Q4.csv — Calc");
    const xcb_window_t document = x11.window("Бюджет Q3.csv — Calc");
    const xcb_window_t second = x11.window("Бюджет Q3.csv (только чтение)", false);
    const xcb_window_t stubborn = x11.window("Бюджет Q3.csv — xterm", true, false);
    const xcb_window_t strange = x11.window(hostile + " — Calc");
    const xcb_window_t plain = x11.window("rf x_->csv — Calc");
    const std::shared_ptr<X11WindowControl> control = X11WindowControl::connect(x11.name());
    ASSERT_NE(control, nullptr);
    // Empty names match nothing.
    EXPECT_EQ(control->countWindowsTitled(""), 0);
    EXPECT_EQ(control->closeWindowsTitled(""), Outcome::noWindow);
    EXPECT_TRUE(x11.askedToClose({}).empty());

    EXPECT_EQ(control->countWindowsTitled("Бюджет Q3.csv"), 3);
    // Activation is a window manager's to grant.
    EXPECT_EQ(control->raiseWindowsTitled("Бюджет Q3.csv"), Outcome::unsupported);
    EXPECT_EQ(control->closeWindowsTitled("Бюджет Q3.csv"), Outcome::done);
    EXPECT_EQ(x11.askedToClose({document, second}), (std::set<xcb_window_t>{document, second}));
    // Hostile names match literally.
    EXPECT_EQ(control->closeWindowsTitled(hostile), Outcome::done);
    EXPECT_EQ(x11.askedToClose({strange}), std::set<xcb_window_t>{strange});
    for (xcb_window_t window : {other, stubborn, plain}) {
        EXPECT_TRUE(x11.exists(window)) << window;
    }

    // A window manager that follows EWMH but lists no clients and supports no closing (weston's
    // XWayland): its frames carry no title, the clients inside them do.
    const xcb_window_t check = x11.window("wm");
    setWords(x11, check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    setWords(x11, x11.root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    setWords(x11, x11.root(), "_NET_SUPPORTED", XCB_ATOM_ATOM, {testing::atom(x11.connection(), "_NET_WM_STATE")});
    xcb_window_t frame = xcb_generate_id(x11.connection());
    xcb_create_window(x11.connection(), XCB_COPY_FROM_PARENT, frame, x11.root(), 0, 0, 300, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_map_window(x11.connection(), frame);
    const xcb_window_t framed = x11.window("Отчёт.csv — weston", true, true, frame);
    EXPECT_EQ(control->countWindowsTitled("Отчёт.csv"), 1);
    EXPECT_EQ(control->closeWindowsTitled("Отчёт.csv"), Outcome::done);
    EXPECT_EQ(x11.askedToClose({framed}), std::set<xcb_window_t>{framed});
}

TEST(X11WithWindowManager, RaisesClosesThroughItAndPinsThePanelAboveOnEveryDesktop) {
    XDisplay x11(true);
    ASSERT_TRUE(x11.ready()) << "Xvfb or openbox did not start";
    const xcb_window_t document = x11.window("Бюджет Q3.csv — LibreOffice Calc");
    const xcb_window_t other = x11.window("Отчёт.csv — LibreOffice Calc");
    const xcb_window_t stubborn = x11.window("Бюджет Q3.csv — xterm", true, false);  // could only be killed
    const xcb_window_t panel = x11.window("Товак — панель");
    // Frameless, as the toolkit asks for it (Motif hints: decorations, none).
    setWords(x11, panel, "_MOTIF_WM_HINTS", testing::atom(x11.connection(), "_MOTIF_WM_HINTS"), {2, 0, 0, 0, 0});
    ASSERT_TRUE(x11.managed());
    const std::unique_ptr<XcbWindows> x = XcbWindows::connect(x11.name());
    ASSERT_NE(x, nullptr);
    const auto active = [&](xcb_window_t window) {
        return x->hasWord(x->root(), x->atom(XcbWindows::kNetActiveWindow), XCB_ATOM_WINDOW, window);
    };
    const auto hasState = [&](xcb_window_t window, XcbWindows::AtomIndex state) {
        return x->hasWord(window, x->atom(XcbWindows::kNetWmState), XCB_ATOM_ATOM, x->atom(state));
    };
    const std::shared_ptr<X11WindowControl> control = X11WindowControl::connect(x11.name());
    ASSERT_NE(control, nullptr);
    ASSERT_TRUE(XDisplay::waitUntil([&] { return active(panel); }));

    EXPECT_EQ(control->raiseWindowsTitled("Бюджет Q3.csv — LibreOffice"), Outcome::done);
    EXPECT_TRUE(XDisplay::waitUntil([&] { return active(document); }));
    // Minimised as its application would ask (ICCCM WM_CHANGE_STATE, IconicState).
    x->send(x->root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, document,
            testing::atom(x->connection(), "WM_CHANGE_STATE"), {3, 0});
    x->sync();
    ASSERT_TRUE(XDisplay::waitUntil([&] { return hasState(document, XcbWindows::kNetWmStateHidden); }));
    EXPECT_EQ(control->raiseWindowsTitled("Бюджет Q3.csv — LibreOffice"), Outcome::done);
    EXPECT_TRUE(
        XDisplay::waitUntil([&] { return active(document) && !hasState(document, XcbWindows::kNetWmStateHidden); }));
    EXPECT_EQ(control->raiseWindowsTitled("Нет такого.csv"), Outcome::noWindow);
    // The screen holding the active window: Xvfb's one.
    EXPECT_EQ(control->activeScreen(), (DesktopRect{0, 0, 640, 480}));

    // The panel is found by its exact title only.
    EXPECT_EQ(control->placePanel("Товак", {0, 0, 280, 210}), Outcome::noWindow);
    EXPECT_EQ(control->placePanel("Товак — панель", {344, 254, 280, 210}), Outcome::done);
    const auto placed = [&] {
        auto geometry = xcb_get_geometry_reply(x->connection(), xcb_get_geometry(x->connection(), panel), nullptr);
        auto origin = xcb_translate_coordinates_reply(
            x->connection(), xcb_translate_coordinates(x->connection(), panel, x->root(), 0, 0), nullptr);
        const bool at = geometry != nullptr && origin != nullptr && origin->dst_x == 344 && origin->dst_y == 254 &&
                        geometry->width == 280 && geometry->height == 210;
        std::free(geometry);
        std::free(origin);
        return at;
    };
    EXPECT_TRUE(XDisplay::waitUntil(placed));
    // openbox shows "every desktop" by the desktop number alone, not by the sticky state.
    EXPECT_TRUE(XDisplay::waitUntil([&] {
        return hasState(panel, XcbWindows::kNetWmStateAbove) && hasState(panel, XcbWindows::kNetWmStateSkipTaskbar) &&
               x->hasWord(panel, x->atom(XcbWindows::kNetWmDesktop), XCB_ATOM_CARDINAL, 0xFFFFFFFFu);
    }));

    // Closing goes through the window manager, and only to the window that can be asked.
    EXPECT_EQ(control->closeWindowsTitled("Бюджет Q3.csv"), Outcome::done);
    EXPECT_EQ(x11.askedToClose({document}), std::set<xcb_window_t>{document});
    EXPECT_TRUE(x11.exists(other) && x11.exists(stubborn));
}

}  // namespace
}  // namespace tovak::trigger

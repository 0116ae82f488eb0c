#pragma once

#include <gtest/gtest.h>

#include <string>

#include "trigger/WindowControl.h"
#include "trigger/gnome/CompositorSession.h"

namespace tovak::testing {

// What every desktop's backend must do, judged by the compositor's own window list: the session
// describes a window as "focused=.. minimized=.. above=.. sticky=.. at=X,Y screen=N".
class WindowControlChecks {
  public:
    using Outcome = trigger::WindowControl::Outcome;

    WindowControlChecks(CompositorSession& session, trigger::WindowControl& control)
        : session_(session), control_(control) {}

    // Waits until what the compositor says of the window contains state.
    bool becomes(const std::string& title, const std::string& state) {
        return waitUntil([&] { return session_.window(title).find(state) != std::string::npos; });
    }

    // The trigger document's windows, native Wayland and XWayland: counted, raised (from behind another
    // window, and from minimised), closed; other windows left alone.
    void documentWindows() {
        for (const bool x11 : {false, true}) {
            SCOPED_TRACE(x11 ? "XWayland" : "native Wayland");
            const std::string file = std::string("Отчёт-") + (x11 ? "x11" : "wayland") + ".csv";
            const std::string document = file + " — Просмотр",
                              other = std::string("Заметки-") + (x11 ? "x11" : "wayland");
            ASSERT_TRUE(session_.openWindows(x11, {document, other}));

            EXPECT_EQ(control_.countWindowsTitled(file), 1);
            EXPECT_EQ(control_.countWindowsTitled("Отчёт-нет.csv"), 0);
            EXPECT_EQ(control_.countWindowsTitled(""), 0);
            EXPECT_EQ(control_.raiseWindowsTitled("Отчёт-нет.csv"), Outcome::noWindow);
            EXPECT_EQ(control_.closeWindowsTitled(""), Outcome::noWindow);

            session_.act(other, "activate");
            ASSERT_TRUE(becomes(other, "focused=true"));
            EXPECT_EQ(control_.raiseWindowsTitled(file), Outcome::done);
            EXPECT_TRUE(becomes(document, "focused=true minimized=false")) << session_.window(document);

            session_.act(document, "minimize");
            ASSERT_TRUE(becomes(document, "focused=false minimized=true"));
            EXPECT_EQ(control_.raiseWindowsTitled(file), Outcome::done);
            EXPECT_TRUE(becomes(document, "focused=true minimized=false")) << session_.window(document);

            EXPECT_EQ(control_.closeWindowsTitled(file), Outcome::done);
            EXPECT_TRUE(becomes(document, "none")) << session_.window(document);
            EXPECT_EQ(control_.countWindowsTitled(file), 0);
            EXPECT_NE(session_.window(other), "none");
        }
    }

    // Tovak's panel, native Wayland and XWayland, found by its exact title: above, on every desktop, where
    // it was asked to be.
    void panel(const trigger::DesktopRect& where) {
        const std::string at = "at=" + std::to_string(where.x) + "," + std::to_string(where.y);
        for (const bool x11 : {false, true}) {
            SCOPED_TRACE(x11 ? "XWayland" : "native Wayland");
            const std::string panel = x11 ? "Товак — панель X11" : "Товак — панель";
            ASSERT_TRUE(session_.openWindows(x11, {panel}, true));
            ASSERT_TRUE(session_.openWindows(x11, {panel + " и ещё"}));
            ASSERT_TRUE(becomes(panel, "above=false sticky=false"));

            EXPECT_EQ(control_.placePanel(panel, where), Outcome::done);
            EXPECT_TRUE(becomes(panel, "above=true sticky=true " + at)) << session_.window(panel);
            EXPECT_TRUE(becomes(panel + " и ещё", "above=false sticky=false"));
            EXPECT_EQ(control_.placePanel("Товак —", where), Outcome::noWindow);
        }
    }

    // The screen holding the focused window, whichever of two it is.
    void activeScreen(const trigger::DesktopRect& first, const trigger::DesktopRect& second) {
        ASSERT_TRUE(session_.openWindows(false, {"Слева.txt", "Справа.txt"}));
        session_.act("Справа.txt", "screen 1");
        session_.act("Справа.txt", "activate");
        ASSERT_TRUE(becomes("Справа.txt", "focused=true"));
        ASSERT_TRUE(becomes("Справа.txt", "screen=1"));
        EXPECT_EQ(control_.activeScreen(), second);

        session_.act("Слева.txt", "activate");
        ASSERT_TRUE(becomes("Слева.txt", "focused=true"));
        EXPECT_EQ(control_.activeScreen(), first);
    }

    // Quotes, backslashes and line breaks in a title are only ever text.
    void titlesAreText() {
        ASSERT_TRUE(session_.openWindows(false, {R"(Кавычки "и" \ обратная 'черта'.csv)"}));
        EXPECT_EQ(control_.countWindowsTitled(R"("и" \ обратная 'черта'.csv)"), 1);
        EXPECT_EQ(control_.countWindowsTitled("\"); workspace.activeClient.closeWindow(); (\".csv"), 0);
        EXPECT_EQ(control_.countWindowsTitled("строка\nвторая\u2028.csv"), 0);
    }

  private:
    CompositorSession& session_;
    trigger::WindowControl& control_;
};

}  // namespace tovak::testing

// The KDE backend against a real headless KWin: KWin's own window list (read by judge scripts of the
// test's own) decides what was found, raised, closed and placed.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "trigger/kde/KWinSession.h"
#include "trigger/kde/KdeWindowControl.h"

namespace tovak::trigger {
namespace {

using testing::KWinSession;
using testing::waitUntil;
using Outcome = WindowControl::Outcome;

// One KWin for every test, with two outputs side by side.
class KWinTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        session_ = new KWinSession();
        skipReason_ = session_->start(2);
    }
    static void TearDownTestSuite() {
        delete session_;
        session_ = nullptr;
    }
    void SetUp() override {
        if (!skipReason_.empty()) {
            GTEST_SKIP() << skipReason_;
        }
        control_ = KdeWindowControl::connect(session_->bus());
        ASSERT_NE(control_, nullptr);
    }

    // Waits until what KWin says of the window contains state.
    static bool becomes(const std::string& title, const std::string& state) {
        return waitUntil([&] { return session_->window(title).find(state) != std::string::npos; });
    }

    static inline KWinSession* session_ = nullptr;
    static inline std::string skipReason_;
    std::shared_ptr<KdeWindowControl> control_;
};

TEST_F(KWinTest, DocumentWindowsAreFoundRaisedAndClosed) {
    struct Row {
        const char* name;
        bool x11;
    };
    for (const Row& row : {Row{"native Wayland", false}, Row{"XWayland", true}}) {
        SCOPED_TRACE(row.name);
        const std::string file = std::string("Отчёт-") + (row.x11 ? "x11" : "wayland") + ".csv";
        const std::string document = file + " — Просмотр", other = std::string("Заметки ") + row.name;
        ASSERT_TRUE(session_->openWindows(row.x11, {document, other}));

        EXPECT_EQ(control_->countWindowsTitled(file), 1);
        EXPECT_EQ(control_->countWindowsTitled("Отчёт-нет.csv"), 0);
        EXPECT_EQ(control_->countWindowsTitled(""), 0);
        EXPECT_EQ(control_->raiseWindowsTitled("Отчёт-нет.csv"), Outcome::noWindow);
        EXPECT_EQ(control_->closeWindowsTitled(""), Outcome::noWindow);

        session_->act(other, "activate");
        ASSERT_TRUE(becomes(other, "active=true"));
        EXPECT_EQ(control_->raiseWindowsTitled(file), Outcome::done);
        EXPECT_TRUE(becomes(document, "active=true minimized=false")) << session_->window(document);

        session_->act(document, "minimize");
        ASSERT_TRUE(becomes(document, "active=false minimized=true"));
        EXPECT_EQ(control_->raiseWindowsTitled(file), Outcome::done);
        EXPECT_TRUE(becomes(document, "active=true minimized=false")) << session_->window(document);

        EXPECT_EQ(control_->closeWindowsTitled(file), Outcome::done);
        EXPECT_TRUE(becomes(document, "none")) << session_->window(document);
        EXPECT_EQ(control_->countWindowsTitled(file), 0);
        EXPECT_NE(session_->window(other), "none");
    }
}

TEST_F(KWinTest, PanelIsPlacedAboveOnAllDesktops) {
    for (const bool x11 : {false, true}) {
        SCOPED_TRACE(x11 ? "XWayland" : "native Wayland");
        const std::string panel = x11 ? "Товак — панель X11" : "Товак — панель";
        ASSERT_TRUE(session_->openWindows(x11, {panel}, true));
        ASSERT_TRUE(session_->openWindows(x11, {panel + " и ещё"}));
        ASSERT_TRUE(becomes(panel, "above=false alldesktops=false"));

        EXPECT_EQ(control_->placePanel(panel, {708, 602, 300, 150}), Outcome::done);
        EXPECT_TRUE(becomes(panel, "above=true alldesktops=true at=708,602")) << session_->window(panel);
        // Found by its exact title only.
        EXPECT_TRUE(becomes(panel + " и ещё", "above=false alldesktops=false"));
        EXPECT_EQ(control_->placePanel("Товак —", {0, 0, 300, 150}), Outcome::noWindow);
    }
}

TEST_F(KWinTest, ActiveScreenIsTheActiveWindowsOutput) {
    ASSERT_TRUE(session_->openWindows(false, {"Слева.txt", "Справа.txt"}));
    session_->act("Справа.txt", "output 1");
    session_->act("Справа.txt", "activate");
    ASSERT_TRUE(becomes("Справа.txt", "active=true"));
    EXPECT_EQ(control_->activeScreen(), (DesktopRect{1024, 0, 1024, 768}));

    session_->act("Слева.txt", "activate");
    ASSERT_TRUE(becomes("Слева.txt", "active=true"));
    EXPECT_EQ(control_->activeScreen(), (DesktopRect{0, 0, 1024, 768}));
}

// Texts that would end a JavaScript string early, or be read as code, are only ever text.
TEST_F(KWinTest, TitlesAreTextNotCode) {
    ASSERT_TRUE(session_->openWindows(false, {R"(Кавычки "и" \ обратная 'черта'.csv)"}));
    EXPECT_EQ(control_->countWindowsTitled(R"("и" \ обратная 'черта')"), 1);
    EXPECT_EQ(control_->countWindowsTitled("\"); workspace.activeClient.closeWindow(); (\""), 0);
    EXPECT_EQ(control_->countWindowsTitled("строка\nвторая\u2028"), 0);
}

}  // namespace
}  // namespace tovak::trigger

// The KDE backend against a real headless KWin: KWin's own window list (read by judge scripts of the
// test's own) decides what was found, raised, closed and placed.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "trigger/gnome/WindowControlChecks.h"
#include "trigger/kde/KWinSession.h"
#include "trigger/kde/KdeWindowControl.h"

namespace tovak::trigger {
namespace {

// One KWin for every test, with two outputs side by side.
class KWinTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        session_ = new testing::KWinSession();
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
        checks_ = std::make_unique<testing::WindowControlChecks>(*session_, *control_);
    }

    static inline testing::KWinSession* session_ = nullptr;
    static inline std::string skipReason_;
    std::shared_ptr<KdeWindowControl> control_;
    std::unique_ptr<testing::WindowControlChecks> checks_;
};

// Document windows found, raised and closed; the panel above on all desktops; the active
// window's output; titles taken as text, not code.
TEST_F(KWinTest, EveryRequestDoesWhatKWinsOwnWindowListShows) {
    checks_->documentWindows();
    checks_->panel({708, 602, 300, 150});
    checks_->activeScreen({0, 0, 1024, 768}, {1024, 0, 1024, 768});
    checks_->titlesAreText();
}

TEST(KWinAbsent, NoKWinNoBackend) {
    testing::KWinSession session;
    EXPECT_EQ(KdeWindowControl::connect(session.bus()), nullptr);
}

}  // namespace
}  // namespace tovak::trigger

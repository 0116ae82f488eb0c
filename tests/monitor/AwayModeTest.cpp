// Away mode: switching, the close-up of a single face, the delayed lock and its cancellation.
#include <gtest/gtest.h>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;

namespace {

const std::string kLockFailure =
    "Блокировка не сработала. В macOS 15+ нет CGSession; включите: Конфиденциальность → Автоматизация → Товак → "
    "System Events.";

struct AwayModeTest : ::testing::Test {
    MonitorHarness h;
    const std::vector<monitor::FaceObservation> two = faces({0.05, 0.03});
    const std::vector<monitor::FaceObservation> one = faces({0.05});

    void SetUp() override {
        h.startMonitoring();
        setAway(true);
    }
    void setAway(bool on) {
        h.monitor->setAwayMode(on);
        h.sim.drain();
    }
    int locks() const { return h.locker->locks(); }
};

}  // namespace

TEST_F(AwayModeTest, SwitchingOnAndOffIsPublishedAfterTheCaptureSideWork) {
    EXPECT_TRUE(h.monitor->awayMode.get());
    EXPECT_TRUE(h.state().awayModeProcess);
    EXPECT_EQ(h.pip->hides(), 1);
    setAway(false);
    EXPECT_FALSE(h.monitor->awayMode.get());
    EXPECT_FALSE(h.state().awayModeProcess);
    EXPECT_EQ(h.fullscreen->hides(), 1);
    // The status line is not touched by away mode.
    EXPECT_EQ(h.monitor->statusLine.get(), "● Test Camera");
}

TEST_F(AwayModeTest, TwoFramesWithOneFaceShowNothing) {
    h.frames(2, one);
    h.frames(5, {});
    h.sim.advance(2.0);
    EXPECT_EQ(h.fullscreen->shows(), 0);
    EXPECT_EQ(locks(), 0);
}

TEST_F(AwayModeTest, ThirdOneFaceFrameShowsTheCloseUpAndLocksOneSecondLater) {
    h.frames(3, one);
    EXPECT_TRUE(h.fullscreen->visible());
    const auto updates = h.fullscreen->updates();
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_DOUBLE_EQ(updates[0].zoom, 1.55);
    EXPECT_DOUBLE_EQ(updates[0].padding, 0.08);
    EXPECT_TRUE(h.monitor->hasAwayLockWorkItem());
    h.sim.advance(0.999);
    EXPECT_EQ(locks(), 0);
    h.sim.advance(0.001);
    EXPECT_EQ(locks(), 1);
    EXPECT_TRUE(h.state().awayLockTriggeredThisSession);
    EXPECT_FALSE(h.monitor->hasAwayLockWorkItem());
}

TEST_F(AwayModeTest, FaceLostForFourteenFramesKeepsTheLockOnTime) {
    h.frames(3, one, 0.01);
    h.frames(14, {}, 0.01);
    h.frame(one, 0.01);
    EXPECT_TRUE(h.fullscreen->visible());
    h.sim.advance(0.86);
    EXPECT_EQ(locks(), 1);
}

TEST_F(AwayModeTest, FaceLostForFifteenFramesCancelsTheLockAndNeedsThreeNewFrames) {
    h.frames(3, one, 0.01);
    h.frames(15, {}, 0.01);
    EXPECT_FALSE(h.fullscreen->visible());
    EXPECT_FALSE(h.state().awayPresenceActive);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 0);
    h.frames(2, one);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 0);
    h.frame(one);
    h.sim.advance(1.0);
    EXPECT_EQ(locks(), 1);
}

TEST_F(AwayModeTest, SecondFaceDuringTheDelayCancelsItAndTheNormalResponseFollows) {
    h.frames(3, one);
    h.frame(two);
    EXPECT_FALSE(h.fullscreen->visible());
    EXPECT_EQ(h.state().awayConfirmCount, 0);
    h.frames(2, two);
    EXPECT_TRUE(h.state().presenceActive);
    EXPECT_TRUE(h.pip->visible());
    EXPECT_EQ(h.log.count("open:" + kDefaultTrigger), 1u);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 0);
    EXPECT_TRUE(h.state().awayModeProcess);
}

TEST_F(AwayModeTest, AfterASuccessfulLockTheCloseUpFollowsTheFaceWithoutASecondLock) {
    h.frames(3, one);
    h.sim.advance(1.0);
    ASSERT_EQ(locks(), 1);
    h.frames(60, one);
    h.frames(15, {});
    h.frames(3, one);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 1);
    EXPECT_GT(h.fullscreen->updates().size(), 20u);
    // Off and on again re-arms.
    setAway(false);
    setAway(true);
    h.frames(3, one);
    h.sim.advance(1.0);
    EXPECT_EQ(locks(), 2);
}

TEST_F(AwayModeTest, FailedLockShowsTheMessageAndNeedsTheFaceToLeaveAndReturn) {
    h.locker->succeed = false;
    h.locker->failureMessage = kLockFailure;
    h.frames(3, one);
    h.sim.advance(1.0);
    EXPECT_EQ(locks(), 1);
    EXPECT_EQ(h.monitor->statusLine.get(), kLockFailure);
    EXPECT_FALSE(h.state().awayLockTriggeredThisSession);
    EXPECT_TRUE(h.fullscreen->visible());
    h.frames(30, one);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 1);
    h.frames(15, {});
    h.frames(3, one);
    h.sim.advance(1.0);
    EXPECT_EQ(locks(), 2);
}

TEST_F(AwayModeTest, SwitchingOffDuringTheDelayPreventsTheLock) {
    h.frames(3, one);
    setAway(false);
    EXPECT_FALSE(h.fullscreen->visible());
    EXPECT_FALSE(h.monitor->hasAwayLockWorkItem());
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 0);
}

TEST_F(AwayModeTest, SwitchingOffStillPreventsTheLockWhenTheDelayEndsBeforeTheSwitchRuns) {
    h.frames(3, one);
    // The user's switch is queued on the busy session queue; then the delay ends and the work item
    // queues its check behind the switch.
    h.monitor->setAwayMode(false);
    ASSERT_TRUE(h.sim.main.runNextDelayed());
    ASSERT_EQ(h.sim.session.pending(), 2u);
    h.sim.drain();
    EXPECT_EQ(locks(), 0);
    EXPECT_FALSE(h.fullscreen->visible());
}

TEST_F(AwayModeTest, SwitchingOnWithAConfirmedOnlookerClosesTheDocumentAndResetsCounts) {
    setAway(false);
    h.frames(3, two);
    ASSERT_TRUE(h.state().presenceActive);
    setAway(true);
    EXPECT_FALSE(h.state().presenceActive);
    EXPECT_EQ(h.state().confirmCount, 0);
    EXPECT_EQ(h.state().missCount, 0);
    EXPECT_EQ(h.state().lastBringTriggerFrontTime, 0);
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
    EXPECT_FALSE(h.pip->visible());
}

TEST_F(AwayModeTest, SwitchingOnAgainKeepsTheCloseUpButClearsTheLockUntilTheNextConfirmation) {
    h.frames(3, one);
    h.sim.advance(1.0);
    ASSERT_EQ(locks(), 1);
    setAway(true);
    EXPECT_FALSE(h.state().awayLockTriggeredThisSession);
    EXPECT_TRUE(h.state().awayPresenceActive);
    EXPECT_TRUE(h.fullscreen->visible());
    h.frames(10, one);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 1);

    // Switching on again during a pending delay cancels it.
    h.frames(15, {});
    h.frames(3, one);
    setAway(true);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 1);
}

TEST_F(AwayModeTest, CloseUpUpdatesAtMostEveryFifteenthOfASecond) {
    h.frames(3, one, 0.05);
    h.frames(4, one, 0.05);
    // 0.05 s apart: every second frame refreshes.
    EXPECT_EQ(h.fullscreen->updates().size(), 3u);
}

// Away mode: switching, the close-up of a single face, the delayed lock and its cancellation.
#include <gtest/gtest.h>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;

namespace {

struct AwayModeTest : ::testing::Test {
    MonitorHarness h;
    void SetUp() override {
        h.start();
        h.setAway(true);
    }
    int locks() const { return h.services->locks; }
    // Three frames with one face, then the clock moves on by wait seconds.
    void closeUp(double wait = 0) {
        h.frames(3, h.one);
        h.sim.advance(wait);
    }
};

}  // namespace

TEST_F(AwayModeTest, SwitchingOnAndOffIsPublishedAfterTheCaptureSideWork) {
    EXPECT_TRUE(h.monitor->awayMode.get());
    EXPECT_EQ(h.pip->hides, 1);
    h.setAway(false);
    EXPECT_FALSE(h.monitor->awayMode.get());
    EXPECT_EQ(h.fullscreen->hides, 1);
    h.frames(3, h.one);  // a single face is the user again
    EXPECT_EQ(h.fullscreen->shows, 0);
    EXPECT_EQ(h.status(), "● Test Camera");  // away mode leaves the status line alone
}

TEST_F(AwayModeTest, ThirdOneFaceFrameShowsTheCloseUpAndLocksOneSecondLater) {
    h.frames(2, h.one);
    h.frames(5, {});
    h.sim.advance(2.0);
    EXPECT_EQ(h.fullscreen->shows, 0);
    closeUp();
    EXPECT_TRUE(h.fullscreen->visible);
    const auto updates = h.fullscreen->updates();
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_DOUBLE_EQ(updates[0].zoom, 1.55);
    EXPECT_DOUBLE_EQ(updates[0].padding, 0.08);
    h.sim.advance(0.999);
    EXPECT_EQ(locks(), 0);
    h.sim.advance(0.001);
    EXPECT_EQ(locks(), 1);
    EXPECT_TRUE(h.nothingScheduled());
}

TEST_F(AwayModeTest, FaceLostForFourteenFramesKeepsTheLockOnTimeAndFifteenCancelIt) {
    h.frames(3, h.one, 0.01);
    h.frames(14, {}, 0.01);
    h.frame(h.one, 0.01);
    EXPECT_TRUE(h.fullscreen->visible);
    h.sim.advance(0.86);
    EXPECT_EQ(locks(), 1);

    h.setAway(true);
    h.frames(15, {}, 0.01);
    h.frames(3, h.one, 0.01);
    h.frames(15, {}, 0.01);
    EXPECT_FALSE(h.fullscreen->visible);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 1);
    closeUp(1.0);  // switching on again re-arms the lock
    EXPECT_EQ(locks(), 2);
}

TEST_F(AwayModeTest, SecondFaceDuringTheDelayCancelsItAndTheNormalResponseFollows) {
    closeUp();
    h.frame(h.two);
    EXPECT_FALSE(h.fullscreen->visible);
    EXPECT_TRUE(h.nothingScheduled()) << "the lock is disarmed";
    h.frames(2, h.two);
    EXPECT_TRUE(h.pip->visible);
    EXPECT_EQ(h.log.count("open:" + kDefaultTrigger), 1u);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 0);
    EXPECT_TRUE(h.monitor->awayMode.get());
    // The visitor's count started again: two single-face frames show nothing, the third does.
    h.frames(2, h.one);
    EXPECT_FALSE(h.fullscreen->visible);
    h.frame(h.one);
    EXPECT_TRUE(h.fullscreen->visible);
}

TEST_F(AwayModeTest, AfterASuccessfulLockTheCloseUpFollowsTheFaceWithoutASecondLock) {
    closeUp(1.0);
    ASSERT_EQ(locks(), 1);
    h.frames(60, h.one);
    h.frames(15, {});
    closeUp(2.0);
    EXPECT_EQ(locks(), 1);
    EXPECT_GT(h.fullscreen->updates().size(), 20u);
}

TEST_F(AwayModeTest, FailedLockShowsTheMessageAndNeedsTheFaceToLeaveAndReturn) {
    h.services->lockSucceeds = false;
    h.services->lockFailure = "Блокировка не сработала: нет службы";
    closeUp(1.0);
    EXPECT_EQ(locks(), 1);
    EXPECT_EQ(h.status(), "Блокировка не сработала: нет службы");
    EXPECT_TRUE(h.fullscreen->visible);
    h.frames(30, h.one);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 1);
    h.frames(15, {});
    closeUp(1.0);
    EXPECT_EQ(locks(), 2);
}

TEST_F(AwayModeTest, SwitchingOffDuringTheDelayPreventsTheLockEvenWhenTheDelayEndsFirst) {
    closeUp();
    h.setAway(false);
    EXPECT_FALSE(h.fullscreen->visible);
    EXPECT_TRUE(h.nothingScheduled());
    h.sim.advance(2.0);

    h.setAway(true);
    closeUp();
    // The switch is queued on the busy session queue; then the delay ends and the work item
    // queues its check behind the switch.
    h.monitor->setAwayMode(false);
    ASSERT_TRUE(h.sim.main.runNextDelayed());
    ASSERT_EQ(h.sim.session.pending(), 2u);
    h.sim.drain();
    EXPECT_EQ(locks(), 0);
    EXPECT_FALSE(h.fullscreen->visible);
}

TEST_F(AwayModeTest, SwitchingOnWithAConfirmedOnlookerClosesTheDocumentAndResetsCounts) {
    h.setAway(false);
    h.frames(2, h.one);
    h.frames(3, h.two);
    ASSERT_TRUE(h.pip->visible);
    h.setAway(true);
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
    EXPECT_FALSE(h.pip->visible);
    // Counting starts afresh back in normal mode: fifteen misses end nothing, three frames confirm.
    h.setAway(false);
    h.frames(15, h.one);
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
    h.frames(2, h.two);
    EXPECT_EQ(h.log.count("open:" + kDefaultTrigger), 1u);
    h.frame(h.two);
    EXPECT_EQ(h.log.count("open:" + kDefaultTrigger), 2u);
}

TEST_F(AwayModeTest, SwitchingOnAgainKeepsTheCloseUpButClearsTheLockUntilTheNextConfirmation) {
    closeUp(1.0);
    ASSERT_EQ(locks(), 1);
    h.setAway(true);
    EXPECT_TRUE(h.fullscreen->visible);
    h.frames(10, h.one);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 1);
    h.frames(15, {});
    closeUp(1.0);  // the next confirmation locks again
    EXPECT_EQ(locks(), 2);
    // Switching on again during a pending delay cancels it.
    h.setAway(true);
    h.frames(15, {});
    closeUp();
    h.setAway(true);
    h.sim.advance(2.0);
    EXPECT_EQ(locks(), 2);
}

TEST_F(AwayModeTest, CloseUpUpdatesAtMostEveryFifteenthOfASecond) {
    h.frames(7, h.one, 0.05);  // 0.05 s apart: every second frame refreshes
    EXPECT_EQ(h.fullscreen->updates().size(), 3u);
}

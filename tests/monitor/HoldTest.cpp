// The panel's hold after a presence ends, its cancellation, and the user's dismissal.
#include <gtest/gtest.h>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;

namespace {

struct HoldTest : ::testing::Test {
    MonitorHarness h;
    void SetUp() override { h.start(); }
    // Confirms an onlooker and lets it leave: the hold starts on the last of these frames.
    void presenceThatEnds() {
        h.frames(3, h.two);
        h.frames(15, h.one);
    }
    void expectNoHold() const {
        EXPECT_FALSE(h.monitor->hasPiPHideWorkItem());
        EXPECT_FALSE(h.state().pipHoldScheduled);
    }
};

}  // namespace

TEST_F(HoldTest, PanelIsHiddenTwoSecondsAfterThePresenceEnds) {
    presenceThatEnds();
    ASSERT_TRUE(h.pip->visible);
    EXPECT_TRUE(h.monitor->hasPiPHideWorkItem());
    h.sim.advance(1.999);
    EXPECT_TRUE(h.pip->visible);
    h.sim.advance(0.001);
    EXPECT_FALSE(h.pip->visible);
    expectNoHold();
}

TEST_F(HoldTest, ReturningSecondFaceCancelsTheHideAndLeavesThePanelAsItWas) {
    presenceThatEnds();
    const auto updatesBefore = h.pip->updates().size();
    h.sim.advance(1.0);
    h.frame(h.two);
    expectNoHold();
    h.sim.advance(5.0);
    EXPECT_TRUE(h.pip->visible);
    EXPECT_EQ(h.pip->updates().size(), updatesBefore);
    // After two more frames the presence is confirmed again: raise, show and updates resume.
    h.frames(2, h.two);
    EXPECT_TRUE(h.state().presenceActive);
    EXPECT_EQ(h.pip->shows, 2);
    EXPECT_EQ(h.pip->updates().size(), updatesBefore + 1);

    // A brief return cancels the hold without scheduling a new one: the panel stays until
    // something else hides it.
    h.frames(15, h.one);
    h.frame(h.two);
    h.frames(20, h.one);
    h.sim.advance(10.0);
    EXPECT_TRUE(h.pip->visible);
    h.setAway(true);
    EXPECT_FALSE(h.pip->visible);
}

TEST_F(HoldTest, UserCloseHidesAtOnceAndCancelsAHoldButNotALaterOne) {
    h.frames(3, h.two);
    h.pip->pressClose();
    h.sim.drain();
    EXPECT_FALSE(h.pip->visible);
    EXPECT_TRUE(h.state().presenceActive);
    h.frames(15, h.one);
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
    int hides = h.pip->hides;
    h.sim.advance(2.0);
    EXPECT_EQ(h.pip->hides, hides + 1);

    presenceThatEnds();
    h.pip->pressClose();
    h.sim.drain();
    EXPECT_FALSE(h.pip->visible);
    expectNoHold();
    hides = h.pip->hides;
    h.sim.advance(3.0);
    EXPECT_EQ(h.pip->hides, hides);
}

TEST_F(HoldTest, AwayModeAndStopCancelTheHold) {
    presenceThatEnds();
    h.setAway(true);
    expectNoHold();
    h.setAway(false);
    presenceThatEnds();
    h.stop();
    expectNoHold();
    EXPECT_EQ(h.sim.main.pendingDelayed(), 0u);
}

TEST_F(HoldTest, TwoEndsOneSecondApartHideTwoSecondsAfterTheSecond) {
    presenceThatEnds();
    h.sim.advance(0.3);
    // 3 two-face frames (0.3 s) and 15 one-face frames (0.4 s): the second end comes 1 s after the first.
    h.frames(3, h.two, 0.1);
    h.frames(15, h.one, 0.4 / 15);
    h.sim.advance(1.99);
    EXPECT_TRUE(h.pip->visible);
    h.sim.advance(0.02);
    EXPECT_FALSE(h.pip->visible);
    EXPECT_EQ(h.sim.main.pendingDelayed(), 0u);
}

TEST_F(HoldTest, HoldOutlivingTheMonitorDoesNothing) {
    presenceThatEnds();
    std::weak_ptr<monitor::PrivacyMonitor> weak = h.monitor;
    h.monitor.reset();
    EXPECT_TRUE(weak.expired());
    const int hides = h.pip->hides;
    h.sim.advance(3.0);
    EXPECT_EQ(h.pip->hides, hides);
}

// Onlooker decisions: confirmation, release, raising the trigger document, panel updates, dismissal, the panel's
// hold after a presence ends, and the auto-away timer that runs beside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;

namespace {

struct OnlookerTest : ::testing::Test {
    MonitorHarness h;
    const std::string open = "open:" + kDefaultTrigger;
    void SetUp() override { h.start(); }
    std::size_t raises() const { return h.log.count(open); }
    std::size_t panelUpdates() const { return h.pip->updates().size(); }
    // Confirms an onlooker and lets it leave: the hold starts on the last of these frames.
    void presenceThatEnds() {
        h.frames(3, h.two);
        h.frames(15, h.one);
    }
    void expectNoHold() const { EXPECT_TRUE(h.nothingScheduled()); }
};

}  // namespace

TEST_F(OnlookerTest, ThirdConsecutiveTwoFaceFrameConfirmsRaisingShowingAndFillingWithTheSecondLargest) {
    h.frames(2, h.two);
    h.frame(h.one);  // an interrupted run starts again
    h.frames(2, faces({0.02, 0.05, 0.03}));
    EXPECT_EQ(h.observer->confirmed, 0);
    EXPECT_EQ(h.pip->shows, 0);
    h.log.clear();
    h.frame(faces({0.02, 0.05, 0.03}));
    EXPECT_EQ(h.observer->confirmed, 1);
    const auto entries = h.log.entries();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), open), 1);
    EXPECT_LT(std::find(entries.begin(), entries.end(), "pip.show"),
              std::find(entries.begin(), entries.end(), "pip.update"));
    EXPECT_EQ(entries.size(), 3u);
    const auto updates = h.pip->updates();
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_NEAR(updates[0].box.area(), 0.03, 1e-12);
    EXPECT_DOUBLE_EQ(updates[0].padding, 0.08);
    EXPECT_DOUBLE_EQ(updates[0].zoom, 1.0);
}

TEST_F(OnlookerTest, PresenceEndsOnTheFifteenthMissAndNotBeforeAndThePanelHidesTwoSecondsLater) {
    h.frames(3, h.two);
    h.frames(14, h.one);
    h.frame(h.two);  // a miss run of 14 is forgotten
    h.frames(14, {});
    EXPECT_EQ(h.observer->ended, 0);
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 0u);
    h.frame({});
    EXPECT_EQ(h.observer->ended, 1);
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
    h.sim.advance(1.999);
    EXPECT_TRUE(h.pip->visible);
    h.sim.advance(0.001);
    EXPECT_FALSE(h.pip->visible);
    expectNoHold();
}

TEST_F(OnlookerTest, TriggerIsRaisedAgainEveryTwoSecondsAndThePanelRefreshedEveryFifteenthInclusive) {
    // Clock readings chosen so that the differences are exact in floating point.
    const double c = 1.0 / 15.0;
    h.frameAt(c / 4, h.two);
    h.frameAt(c / 2, h.two);
    h.frameAt(c, h.two);  // confirms, raises and fills
    ASSERT_EQ(raises(), 1u);
    ASSERT_EQ(panelUpdates(), 1u);
    h.frameAt(std::nextafter(2 * c, 0.0), h.two);
    EXPECT_EQ(panelUpdates(), 1u);
    h.frameAt(2 * c, h.two);
    EXPECT_EQ(panelUpdates(), 2u);

    h.frameAt(1000.0, h.two);
    ASSERT_EQ(raises(), 2u);
    h.frameAt(1001.9990234375, h.two);
    EXPECT_EQ(raises(), 2u);
    h.frameAt(1002.0, h.two);  // exactly 2.0 s after the raise
    EXPECT_EQ(raises(), 3u);
    h.frameAt(1003.5, h.two);
    EXPECT_EQ(raises(), 3u);
}

TEST_F(OnlookerTest, DismissedPanelGetsNoRaisesOrUpdatesUntilAFrameWithFewerFaces) {
    h.frames(3, h.two);
    h.pip->pressClose();
    h.sim.drain();
    EXPECT_FALSE(h.pip->visible);
    const auto raisesBefore = raises();
    const auto updatesBefore = panelUpdates();
    h.frames(90, h.two);  // three seconds
    EXPECT_EQ(raises(), raisesBefore);
    EXPECT_EQ(panelUpdates(), updatesBefore);
    EXPECT_EQ(h.observer->ended, 0);
    // One frame with one face clears the dismissal: raises and updates resume, the panel stays hidden.
    h.frame(h.one);
    h.frame(h.two);
    EXPECT_EQ(raises(), raisesBefore + 1);
    EXPECT_EQ(panelUpdates(), updatesBefore + 1);
    EXPECT_FALSE(h.pip->visible);
    EXPECT_EQ(h.pip->shows, 1);
}

TEST_F(OnlookerTest, MissingTriggerDocumentIsReportedEachTimeButThePanelStillShows) {
    h.services->defaultTrigger.reset();
    h.frames(3, h.two);
    EXPECT_EQ(h.status(), "Нет файла триггера");
    EXPECT_EQ(h.pip->shows, 1);
    h.services->openAccepted = false;
    h.services->defaultTrigger = kDefaultTrigger;
    h.frames(61, h.two);
    EXPECT_EQ(h.status(), "Файл не открылся");
}

TEST_F(OnlookerTest, AutoAwaySwitchesOnAfterTenSecondsWithoutFacesAndRestartsOnAFace) {
    h.frameAt(1000.0, {});
    h.frameAt(1009.5, {});
    h.frameAt(1009.75, h.one);  // a face restarts the timer
    h.frameAt(1010.0, {});
    h.frameAt(1019.9990234375, {});
    EXPECT_FALSE(h.monitor->awayMode.get());
    h.frameAt(1020.0, faces({0.0001}));  // a face below the size threshold counts as none
    EXPECT_TRUE(h.monitor->awayMode.get());
}

TEST_F(OnlookerTest, AutoAwayTakesEffectAfterTheFrameThatAskedForIt) {
    h.frames(3, h.two);
    h.frameAt(2000.0, {});
    h.sim.clock.set(2010.0);
    // Queue the switch's frame, then inspect the state between that frame and the switch.
    h.detector->push({MonitorHarness::Faces{}, std::nullopt});
    h.camera->deliver(h.frameBuffer, h.connection);
    h.sim.session.runOne();
    // The switch waits behind the frame that asked for it; the onlooker's document is not closed yet.
    EXPECT_EQ(h.sim.session.pending(), 1u);
    EXPECT_EQ(h.sim.background.pending(), 0u);
    h.sim.drain();
    EXPECT_TRUE(h.monitor->awayMode.get());
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
}

TEST_F(OnlookerTest, AutoAwayTimerStaysClearedWhileTheSessionIsNotRunning) {
    h.camera->stopRunning();
    for (int i = 0; i < 2; ++i) {
        h.sim.session.async([&] { h.monitor->captureOutput(h.frameBuffer, *h.connection); });
        h.sim.advance(20);
    }
    EXPECT_FALSE(h.monitor->awayMode.get());
}

TEST_F(OnlookerTest, ReturningSecondFaceCancelsTheHideAndLeavesThePanelAsItWas) {
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
    EXPECT_EQ(h.observer->confirmed, 2);
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

TEST_F(OnlookerTest, UserCloseHidesAtOnceAndCancelsAHoldButNotALaterOne) {
    h.frames(3, h.two);
    h.pip->pressClose();
    h.sim.drain();
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

TEST_F(OnlookerTest, AwayModeAndStopCancelTheHold) {
    presenceThatEnds();
    h.setAway(true);
    expectNoHold();
    h.setAway(false);
    presenceThatEnds();
    h.stop();
    expectNoHold();
    EXPECT_EQ(h.sim.main.pendingDelayed(), 0u);
}

TEST_F(OnlookerTest, TwoEndsOneSecondApartHideTwoSecondsAfterTheSecond) {
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

TEST_F(OnlookerTest, HoldOutlivingTheMonitorDoesNothing) {
    presenceThatEnds();
    std::weak_ptr<monitor::PrivacyMonitor> weak = h.monitor;
    h.monitor.reset();
    EXPECT_TRUE(weak.expired());
    const int hides = h.pip->hides;
    h.sim.advance(3.0);
    EXPECT_EQ(h.pip->hides, hides);
}

// Onlooker decisions: confirmation, release, raising the trigger document, panel updates, dismissal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;
using monitor::PrivacyMonitor;

namespace {

struct OnlookerTest : ::testing::Test {
    MonitorHarness h;
    const std::vector<monitor::FaceObservation> two = faces({0.05, 0.03});
    const std::vector<monitor::FaceObservation> one = faces({0.05});
    const std::string open = "open:" + kDefaultTrigger;
    const std::string close = "close:" + kDefaultTrigger;

    void SetUp() override { h.startMonitoring(); }

    // A frame at an exact clock reading.
    void frameAt(double time, const std::vector<monitor::FaceObservation>& list) {
        h.sim.clock.set(time);
        h.frame(list, 0.0);
    }
    std::size_t raises() const { return h.log.count(open); }
    std::size_t panelUpdates() const { return h.pip->updates().size(); }
};

}  // namespace

TEST_F(OnlookerTest, ThirdConsecutiveTwoFaceFrameConfirmsRaisingShowingAndFillingOnce) {
    h.frames(2, two);
    EXPECT_FALSE(h.state().presenceActive);
    EXPECT_EQ(h.pip->shows(), 0);
    h.log.clear();
    h.frame(two);
    EXPECT_TRUE(h.state().presenceActive);
    EXPECT_EQ(raises(), 1u);
    EXPECT_EQ(h.pip->shows(), 1);
    EXPECT_EQ(panelUpdates(), 1u);
    // Raise is asked for before the panel is shown and filled.
    const auto entries = h.log.entries();
    const auto showAt = std::find(entries.begin(), entries.end(), "pip.show");
    const auto updateAt = std::find(entries.begin(), entries.end(), "pip.update");
    ASSERT_NE(showAt, entries.end());
    EXPECT_LT(showAt, updateAt);
}

TEST_F(OnlookerTest, InterruptedRunsNeverConfirm) {
    h.frames(2, two);
    h.frame(one);
    h.frames(2, two);
    EXPECT_FALSE(h.state().presenceActive);
    EXPECT_EQ(h.state().confirmCount, 2);
    EXPECT_EQ(raises(), 0u);
}

TEST_F(OnlookerTest, ThirdFaceChangesNothingAndTheSecondLargestIsCropped) {
    h.frames(3, faces({0.02, 0.05, 0.03}));
    const auto updates = h.pip->updates();
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_NEAR(updates[0].box.area(), 0.03, 1e-12);
    EXPECT_DOUBLE_EQ(updates[0].padding, 0.08);
    EXPECT_DOUBLE_EQ(updates[0].zoom, 1.0);
}

TEST_F(OnlookerTest, PresenceEndsOnTheFifteenthMissAndNotBefore) {
    h.frames(3, two);
    h.frames(14, one);
    EXPECT_TRUE(h.state().presenceActive);
    h.frame(two);
    EXPECT_TRUE(h.state().presenceActive);
    EXPECT_EQ(h.state().missCount, 0);
    EXPECT_EQ(h.state().confirmCount, 1);

    h.frames(14, {});
    EXPECT_EQ(h.log.count(close), 0u);
    h.frame({});
    EXPECT_FALSE(h.state().presenceActive);
    EXPECT_EQ(h.state().missCount, 0);
    EXPECT_EQ(h.state().lastBringTriggerFrontTime, 0);
    EXPECT_EQ(h.log.count(close), 1u);
    EXPECT_TRUE(h.state().pipHoldScheduled);
}

TEST_F(OnlookerTest, TriggerIsRaisedAgainAtLeastEveryTwoSecondsInclusive) {
    frameAt(1000.0, two);
    frameAt(1000.5, two);
    frameAt(1001.0, two);  // confirms
    EXPECT_EQ(raises(), 1u);
    frameAt(1002.5, two);
    frameAt(1002.9990234375, two);
    EXPECT_EQ(raises(), 1u);
    frameAt(1003.0, two);  // exactly 2.0 s after the raise
    EXPECT_EQ(raises(), 2u);
    frameAt(1004.5, two);
    EXPECT_EQ(raises(), 2u);
}

TEST_F(OnlookerTest, PanelUpdatesAtMostEveryFifteenthOfASecondInclusive) {
    const double c = PrivacyMonitor::pipMinInterval;
    // Readings chosen so that differences are exact in floating point.
    frameAt(c / 4, two);
    frameAt(c / 2, two);
    frameAt(c, two);  // confirms and fills
    ASSERT_EQ(panelUpdates(), 1u);
    frameAt(std::nextafter(2 * c, 0.0), two);
    EXPECT_EQ(panelUpdates(), 1u);
    frameAt(2 * c, two);
    EXPECT_EQ(panelUpdates(), 2u);
}

TEST_F(OnlookerTest, DismissedPanelGetsNoRaisesOrUpdatesUntilAFrameWithFewerFaces) {
    h.frames(3, two);
    h.pip->pressClose();
    h.sim.drain();
    EXPECT_FALSE(h.pip->visible());
    EXPECT_TRUE(h.state().pipUserDismissed);
    const auto raisesBefore = raises();
    const auto updatesBefore = panelUpdates();
    h.frames(90, two);  // three seconds
    EXPECT_EQ(raises(), raisesBefore);
    EXPECT_EQ(panelUpdates(), updatesBefore);
    EXPECT_TRUE(h.state().presenceActive);

    // One frame with one face clears the dismissal: raises and updates resume, the panel stays hidden.
    h.frame(one);
    EXPECT_FALSE(h.state().pipUserDismissed);
    h.frame(two);
    EXPECT_EQ(raises(), raisesBefore + 1);
    EXPECT_EQ(panelUpdates(), updatesBefore + 1);
    EXPECT_FALSE(h.pip->visible());
    EXPECT_EQ(h.pip->shows(), 1);
}

TEST_F(OnlookerTest, MissingTriggerDocumentIsReportedEachTimeButThePanelStillShows) {
    h.resources->defaultTrigger.reset();
    h.frames(3, two);
    EXPECT_EQ(h.monitor->statusLine.get(), "Нет файла триггера");
    EXPECT_EQ(h.pip->shows(), 1);
    h.workspace->accept = false;
    h.resources->defaultTrigger = kDefaultTrigger;
    h.frames(61, two);
    EXPECT_EQ(h.monitor->statusLine.get(), "Файл не открылся");
}

TEST_F(OnlookerTest, AutoAwaySwitchesOnAfterTenSecondsWithoutFacesAndRestartsOnAFace) {
    frameAt(1000.0, {});
    EXPECT_EQ(h.state().absenceForAutoAwayStartedAt, std::optional<double>(1000.0));
    frameAt(1009.5, {});
    frameAt(1009.75, one);  // a face restarts the timer
    EXPECT_FALSE(h.state().absenceForAutoAwayStartedAt);
    frameAt(1010.0, {});
    frameAt(1019.9990234375, {});
    EXPECT_FALSE(h.monitor->awayMode.get());
    // A face below the size threshold counts as no face.
    frameAt(1020.0, faces({0.0001}));
    EXPECT_TRUE(h.state().awayModeProcess);
    EXPECT_TRUE(h.monitor->awayMode.get());
    EXPECT_FALSE(h.state().absenceForAutoAwayStartedAt);
}

TEST_F(OnlookerTest, AutoAwayTakesEffectAfterTheFrameThatAskedForIt) {
    h.frames(3, two);
    frameAt(2000.0, {});
    h.sim.clock.set(2010.0);
    // Queue the switch's frame, then inspect the state between that frame and the switch.
    h.detector->push(std::vector<monitor::FaceObservation>{});
    h.camera->deliver(h.frameBuffer, h.connection);
    h.sim.session.runOne();
    EXPECT_FALSE(h.state().awayModeProcess);
    EXPECT_EQ(h.state().missCount, 2);  // the frame still counted as a normal-mode miss
    h.sim.drain();
    EXPECT_TRUE(h.state().awayModeProcess);
    EXPECT_EQ(h.state().missCount, 0);
}

TEST_F(OnlookerTest, AutoAwayTimerStaysClearedWhileTheSessionIsNotRunning) {
    h.camera->stopRunning();
    h.monitor->sessionQueue()->async([&] { h.monitor->captureOutput(h.frameBuffer, *h.connection); });
    h.sim.advance(20);
    h.monitor->sessionQueue()->async([&] { h.monitor->captureOutput(h.frameBuffer, *h.connection); });
    h.sim.drain();
    EXPECT_FALSE(h.state().absenceForAutoAwayStartedAt);
    EXPECT_FALSE(h.state().awayModeProcess);
}

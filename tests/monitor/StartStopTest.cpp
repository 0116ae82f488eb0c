// Starting and stopping: permission, configuration, status lines and the reset at stop.
#include <gtest/gtest.h>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;
using monitor::CameraAuthorization;

namespace {

struct StartStopTest : ::testing::Test {
    MonitorHarness h;
    const std::vector<monitor::FaceObservation> two = faces({0.05, 0.03});
    const std::vector<monitor::FaceObservation> one = faces({0.05});

    void start() {
        h.monitor->start();
        h.sim.drain();
    }
    void stop() {
        h.monitor->stop();
        h.sim.drain();
    }
    const std::string& status() const { return h.monitor->statusLine.get(); }
};

}  // namespace

TEST_F(StartStopTest, CreationTouchesNoCameraAndSaysReady) {
    EXPECT_EQ(status(), "Готов");
    EXPECT_FALSE(h.monitor->isRunning.get());
    EXPECT_EQ(h.monitor->triggerFileSummary.get(), "По умолчанию");
    EXPECT_TRUE(h.log.entries().empty());
}

TEST_F(StartStopTest, AuthorisedStartAttachesAndRunsThenNamesTheCamera) {
    std::vector<std::string> seenStatuses;
    bool runningWhenNamed = false;
    h.monitor->statusLine.observe([&](const std::string& next) {
        seenStatuses.push_back(next);
        runningWhenNamed = h.monitor->isRunning.get();
    });
    start();
    EXPECT_EQ(seenStatuses, (std::vector<std::string>{"● Test Camera"}));
    EXPECT_TRUE(runningWhenNamed);
    EXPECT_TRUE(h.monitor->isRunning.get());
    EXPECT_EQ(h.camera->inputs(), 1);
    EXPECT_EQ(h.camera->outputs(), 1);
    EXPECT_EQ(h.log.entries(), (std::vector<std::string>{"camera.begin", "camera.removeAll", "camera.attach",
                                                         "camera.commit", "camera.start"}));
}

TEST_F(StartStopTest, EachAuthorisationStateHasItsOutcome) {
    h.camera->authorization = CameraAuthorization::denied;
    start();
    EXPECT_EQ(status(), "Камера: нет доступа");
    h.camera->authorization = CameraAuthorization::restricted;
    h.monitor->statusLine.set("x");
    start();
    EXPECT_EQ(status(), "Камера: нет доступа");
    EXPECT_FALSE(h.monitor->isRunning.get());
    EXPECT_EQ(h.camera->inputs(), 0);

    h.camera->authorization = CameraAuthorization::notDetermined;
    start();
    ASSERT_TRUE(h.camera->permissionPending());
    h.camera->answerPermission(false);
    h.sim.drain();
    EXPECT_EQ(status(), "Камера: отказ");
    EXPECT_FALSE(h.monitor->isRunning.get());

    start();
    h.camera->answerPermission(true);
    h.sim.drain();
    EXPECT_EQ(status(), "● Test Camera");
    EXPECT_TRUE(h.monitor->isRunning.get());
}

TEST_F(StartStopTest, ConfigurationFailuresShowTheirTextAndChangeNothingElse) {
    h.camera->device.reset();
    start();
    EXPECT_EQ(status(), "Камера: ошибка");
    EXPECT_FALSE(h.monitor->isRunning.get());

    h.camera->device = monitor::CameraDevice{"video0", "Test Camera"};
    h.camera->inputAccepted = false;
    start();
    EXPECT_EQ(status(), "Камера: ошибка");
    EXPECT_EQ(h.camera->inputs(), 0);

    h.camera->inputAccepted = true;
    h.camera->outputAccepted = false;
    start();
    EXPECT_EQ(status(), "Камера: выход");
    EXPECT_EQ(h.camera->inputs(), 1);  // stays until the next configuration
    EXPECT_FALSE(h.camera->delegateAttached());
    EXPECT_FALSE(h.monitor->isRunning.get());
    EXPECT_EQ(h.log.count("camera.commit"), 3u);
}

TEST_F(StartStopTest, DetectorThatCannotRunKeepsTheCameraOff) {
    h.detector->available = false;
    start();
    EXPECT_EQ(status(), "Детектор лиц: ошибка");
    EXPECT_EQ(h.camera->inputs(), 0);
    EXPECT_FALSE(h.camera->isRunning());
}

TEST_F(StartStopTest, QuickDoubleStartEndsWithOneInputOneOutputAndOneRun) {
    h.monitor->start();
    h.monitor->start();
    h.sim.drain();
    EXPECT_EQ(h.camera->inputs(), 1);
    EXPECT_EQ(h.camera->outputs(), 1);
    EXPECT_EQ(h.camera->startCount(), 1);
    EXPECT_TRUE(h.monitor->isRunning.get());
    EXPECT_EQ(status(), "● Test Camera");
}

TEST_F(StartStopTest, StopWhileThePromptIsOpenIsFollowedByTheStartOnYes) {
    h.camera->authorization = CameraAuthorization::notDetermined;
    start();
    stop();
    EXPECT_EQ(status(), "Стоп");
    h.camera->answerPermission(true);
    h.sim.drain();
    EXPECT_EQ(status(), "● Test Camera");
    EXPECT_TRUE(h.monitor->isRunning.get());
}

TEST_F(StartStopTest, StopDetachesStopsHidesAndPublishesInOrder) {
    start();
    h.frames(3, one);
    ASSERT_TRUE(h.monitor->previewImage.get());
    h.log.clear();
    stop();
    EXPECT_EQ(h.log.entries(),
              (std::vector<std::string>{"camera.detach", "camera.stop", "pip.hide", "fullscreen.hide"}));
    EXPECT_FALSE(h.monitor->isRunning.get());
    EXPECT_FALSE(h.monitor->awayMode.get());
    EXPECT_EQ(status(), "Стоп");
    EXPECT_FALSE(h.monitor->previewImage.get());
    EXPECT_TRUE(h.monitor->previewFaceRects.get().empty());
    // No frame reaches the monitor after the stop.
    EXPECT_FALSE(h.camera->deliver(h.frameBuffer, h.connection));
}

TEST_F(StartStopTest, FrameQueuedBehindTheStopIsNeverProcessed) {
    start();
    h.frame(one);
    const auto counter = h.state().visionFrameCounter;
    h.monitor->stop();
    // The camera is still attached when this frame is queued, behind the stop's detach.
    ASSERT_TRUE(h.camera->deliver(h.frameBuffer, h.connection));
    h.sim.drain();
    EXPECT_EQ(h.state().visionFrameCounter, counter);
}

TEST_F(StartStopTest, StopClosesTheTriggerDocumentOnlyWithAConfirmedOnlooker) {
    start();
    h.frames(2, two);
    stop();
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 0u);
    start();
    h.frames(3, two);
    stop();
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
}

TEST_F(StartStopTest, StopResetsTheDecisionStateAndLeavesTheTimestampsAndCounter) {
    start();
    h.frames(3, two);
    h.monitor->setAwayMode(true);
    h.sim.drain();
    h.frames(3, one);
    h.frames(2, {});
    const auto before = h.state();
    ASSERT_TRUE(before.awayPresenceActive);
    ASSERT_TRUE(h.monitor->hasAwayLockWorkItem());
    stop();
    const auto after = h.state();
    EXPECT_EQ(after.confirmCount, 0);
    EXPECT_EQ(after.missCount, 0);
    EXPECT_FALSE(after.presenceActive);
    EXPECT_EQ(after.lastBringTriggerFrontTime, 0);
    EXPECT_FALSE(after.pipHoldScheduled);
    EXPECT_FALSE(after.pipUserDismissed);
    EXPECT_FALSE(after.absenceForAutoAwayStartedAt);
    EXPECT_EQ(after.awayConfirmCount, 0);
    EXPECT_EQ(after.awayMissCount, 0);
    EXPECT_FALSE(after.awayPresenceActive);
    EXPECT_FALSE(after.awayModeProcess);
    EXPECT_FALSE(after.awayLockTriggeredThisSession);
    EXPECT_FALSE(h.monitor->hasAwayLockWorkItem());
    EXPECT_EQ(after.lastPiPUpdate, before.lastPiPUpdate);
    EXPECT_EQ(after.lastFullscreenUpdate, before.lastFullscreenUpdate);
    EXPECT_EQ(after.lastPreviewPublish, before.lastPreviewPublish);
    EXPECT_EQ(after.visionFrameCounter, before.visionFrameCounter);
    h.sim.advance(2.0);
    EXPECT_EQ(h.locker->locks(), 0);
}

TEST_F(StartStopTest, StopWhileIdleStillResetsAndSaysStop) {
    stop();
    EXPECT_EQ(status(), "Стоп");
    EXPECT_FALSE(h.monitor->isRunning.get());
    EXPECT_EQ(h.pip->hides(), 1);
    EXPECT_EQ(h.fullscreen->hides(), 1);
}

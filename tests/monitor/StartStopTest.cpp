// Starting and stopping: permission, configuration, status lines and the reset at stop.
#include <gtest/gtest.h>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;
using Authorization = monitor::CameraAuthorization;

namespace {

struct StartStopTest : ::testing::Test {
    MonitorHarness h;
};

}  // namespace

TEST_F(StartStopTest, CreationTouchesNoCameraAndSaysReadyAndAStopWhileIdleStillResetsAndSaysStop) {
    EXPECT_EQ(h.status(), "Готов");
    EXPECT_FALSE(h.monitor->isRunning.get());
    EXPECT_EQ(h.monitor->triggerFileSummary.get(), "По умолчанию");
    EXPECT_TRUE(h.log.entries().empty());
    h.stop();
    EXPECT_EQ(h.status(), "Стоп");
    EXPECT_EQ(h.pip->hides, 1);
    EXPECT_EQ(h.fullscreen->hides, 1);
}

TEST_F(StartStopTest, AuthorisedStartAttachesAndRunsThenNamesTheCamera) {
    std::vector<std::string> seenStatuses;
    bool runningWhenNamed = false;
    h.monitor->statusLine.observe([&](const std::string& next) {
        seenStatuses.push_back(next);
        runningWhenNamed = h.monitor->isRunning.get();
    });
    h.start();
    EXPECT_EQ(seenStatuses, (std::vector<std::string>{"● Test Camera"}));
    EXPECT_TRUE(runningWhenNamed);
    EXPECT_EQ(h.log.entries(), (std::vector<std::string>{"camera.begin", "camera.removeAll", "camera.attach",
                                                         "camera.commit", "camera.start"}));
    // A quick double start ends with one input, one output and one run.
    MonitorHarness twice;
    twice.monitor->start();
    twice.start();
    EXPECT_EQ(twice.camera->inputs, 1);
    EXPECT_EQ(twice.camera->outputs, 1);
    EXPECT_EQ(twice.camera->starts, 1);
    EXPECT_EQ(twice.status(), "● Test Camera");
}

TEST_F(StartStopTest, EachFailureHasItsTextAndLeavesTheCameraOff) {
    using Camera = FakeCamera;
    const struct Row {
        const char* name;
        std::function<void(Camera&, ScriptedDetector&)> arrange;
        const char* status;
        int inputs;
        std::size_t commits;
    } rows[] = {
        {"denied", [](Camera& c, auto&) { c.authorization = Authorization::denied; }, "Камера: нет доступа", 0, 0},
        {"restricted", [](Camera& c, auto&) { c.authorization = Authorization::restricted; }, "Камера: нет доступа", 0,
         0},
        {"no device", [](Camera& c, auto&) { c.device.reset(); }, "Камера: ошибка", 0, 1},
        {"input refused", [](Camera& c, auto&) { c.inputAccepted = false; }, "Камера: ошибка", 0, 1},
        // The input stays until the next configuration.
        {"output refused", [](Camera& c, auto&) { c.outputAccepted = false; }, "Камера: выход", 1, 1},
        {"no detector", [](Camera&, ScriptedDetector& d) { d.available = false; }, "Детектор лиц: ошибка", 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MonitorHarness fresh;
        row.arrange(*fresh.camera, *fresh.detector);
        fresh.start();
        EXPECT_EQ(fresh.status(), row.status);
        EXPECT_FALSE(fresh.monitor->isRunning.get());
        EXPECT_FALSE(fresh.camera->isRunning());
        EXPECT_FALSE(fresh.camera->delegateAttached());
        EXPECT_EQ(fresh.camera->inputs, row.inputs);
        EXPECT_EQ(fresh.log.count("camera.commit"), row.commits);
    }
}

TEST_F(StartStopTest, PermissionPromptAnswersAndAStopWhileItIsOpen) {
    h.camera->authorization = Authorization::notDetermined;
    h.start();
    h.camera->answerPermission(false);
    h.sim.drain();
    EXPECT_EQ(h.status(), "Камера: отказ");
    EXPECT_FALSE(h.monitor->isRunning.get());

    // Stop while the prompt is open is followed by the start on yes.
    h.start();
    h.stop();
    EXPECT_EQ(h.status(), "Стоп");
    h.camera->answerPermission(true);
    h.sim.drain();
    EXPECT_EQ(h.status(), "● Test Camera");
    EXPECT_TRUE(h.monitor->isRunning.get());
}

TEST_F(StartStopTest, StopDetachesStopsHidesAndPublishesInOrderAndClosesTheDocumentOnlyWithAConfirmedOnlooker) {
    h.start();
    h.frames(2, h.two);  // not yet confirmed: nothing to close
    ASSERT_TRUE(h.monitor->previewImage.get());
    h.log.clear();
    h.stop();
    EXPECT_EQ(h.log.entries(),
              (std::vector<std::string>{"camera.detach", "camera.stop", "pip.hide", "fullscreen.hide"}));
    EXPECT_FALSE(h.monitor->isRunning.get());
    EXPECT_EQ(h.status(), "Стоп");
    EXPECT_FALSE(h.monitor->previewImage.get());
    EXPECT_TRUE(h.monitor->previewFaceRects.get().empty());

    // A frame queued behind the stop's detach is never processed.
    h.start();
    h.frames(3, h.two);
    const int analysed = h.observer->frames;
    h.monitor->stop();
    ASSERT_TRUE(h.camera->deliver(h.frameBuffer, h.connection));
    h.sim.drain();
    EXPECT_EQ(h.observer->frames, analysed);
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
}

TEST_F(StartStopTest, StopForgetsWhatWasSeenButTheLandmarkPassKeepsItsRhythm) {
    h.start();
    h.frames(3, h.two);
    h.setAway(true);
    h.frames(3, h.one);
    h.frames(2, {});
    ASSERT_FALSE(h.nothingScheduled()) << "the lock is armed";
    h.stop();
    EXPECT_TRUE(h.nothingScheduled());
    EXPECT_FALSE(h.monitor->awayMode.get());
    h.sim.advance(2.0);
    EXPECT_EQ(h.services->locks, 0);

    // Normal mode again and every count from nothing: a single face is the user, and the onlooker
    // needs three frames of its own.
    h.start();
    h.frames(3, h.one);
    EXPECT_EQ(h.fullscreen->shows, 1);
    h.frames(2, h.two);
    EXPECT_EQ(h.pip->shows, 1);
    h.frame(h.two);
    EXPECT_EQ(h.pip->shows, 2);
    EXPECT_EQ(h.detector->landmarkFrames(), (std::vector<int>{3, 6, 9, 12}));
    // Away again, the visitor who was there before the stop counts as new.
    h.setAway(true);
    h.frames(3, h.one);
    EXPECT_EQ(h.fullscreen->shows, 2);
}

// The camera follows the desk: paused while the screen is locked or the user asked, waiting while
// it is gone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;
using monitor::CameraInterruption;
using Event = monitor::CameraContention::Event;

namespace {

struct CameraFollowTest : ::testing::Test {
    std::shared_ptr<FakeLockWatcher> watcher = std::make_shared<FakeLockWatcher>();
    std::shared_ptr<FakeContention> other = std::make_shared<FakeContention>();
    MonitorHarness h{[this](monitor::Ports& deps) {
        deps.lockWatcher = watcher;
        deps.contention = other;
    }};

    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        h.start();
    }
    void pauseFor(double seconds) {
        h.monitor->pauseFor(seconds);
        h.sim.drain();
    }
    void screenLocked(bool locked) {
        watcher->onChange(locked);
        h.sim.drain();
    }
    void busy(bool streams) { h.camera->inputAccepted = !(h.camera->inputBusy = streams); }
    // A pause the monitor comes back from by itself: its name, and how it begins.
    using Pause = std::pair<const char*, std::function<void()>>;
    // Frames are analysed only while the camera runs with the monitor attached.
    bool analyses() {
        const int before = h.detector->handlers;
        h.frame({});
        return h.detector->handlers > before;
    }
};

}  // namespace

TEST_F(CameraFollowTest, LockStopsTheCameraAndUnlockBringsTheUserBackToAFreshStart) {
    h.monitor->setAwayMode(true);
    h.frames(3, h.two);
    ASSERT_TRUE(h.pip->visible);

    screenLocked(true);
    EXPECT_EQ(h.status(), "Пауза: экран заблокирован");
    EXPECT_FALSE(h.camera->isRunning());
    EXPECT_TRUE(h.monitor->isRunning.get()) << "monitoring stays on, so that Стоп is offered";
    EXPECT_FALSE(h.monitor->previewImage.get());
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
    EXPECT_FALSE(h.pip->visible);
    EXPECT_TRUE(h.monitor->awayMode.get()) << "away mode waits for the unlock";

    h.sim.advance(60.0);
    screenLocked(false);
    EXPECT_FALSE(h.monitor->awayMode.get());
    EXPECT_TRUE(h.camera->isRunning());
    EXPECT_EQ(h.camera->starts, 2);
    EXPECT_EQ(h.status(), "● Test Camera");
    EXPECT_TRUE(analyses());
}

TEST_F(CameraFollowTest, DarkFramesAfterARestartDoNotSwitchAwayModeOn) {
    const Pause rows[] = {
        {"screen locked and unlocked",
         [&] {
             screenLocked(true);
             h.sim.advance(60.0);
             screenLocked(false);
         }},
        {"camera lost and back",
         [&] {
             h.camera->interrupt(CameraInterruption::disconnected);
             h.sim.advance(2.0);
         }},
        {"paused by the user for a minute", [&] { pauseFor(60.0), h.sim.advance(60.0); }},
        {"stepped aside for another program",
         [&] {
             other->tell(Event::otherWants);
             h.sim.advance(30.0);
             other->tell(Event::free);
             h.sim.drain();
         }},
    };
    for (const auto& [name, begin] : rows) {
        SCOPED_TRACE(name);
        h.frame(faces({0.05}));
        h.frames(270, {});  // nine seconds without a face
        begin();
        h.frames(60, {});
        EXPECT_FALSE(h.monitor->awayMode.get());
    }
    h.frames(250, {});
    EXPECT_TRUE(h.monitor->awayMode.get()) << "ten seconds after the restart the timer still works";
}

TEST_F(CameraFollowTest, LostCameraIsReportedAndLookedForEveryTwoSecondsUntilItReturns) {
    struct Row {
        const char* name;
        CameraInterruption reason;
        bool busyOnRetry;
        const char* text;
        double every;
    };
    const Row rows[] = {
        {"unplugged", CameraInterruption::disconnected, false, "Камера: отключена", 2.0},
        // Away mode keeps the camera rather than step aside: blind without it, it asks more often.
        {"taken by another program in away mode", CameraInterruption::busy, true,
         "Отошёл: камера занята другой программой", 0.5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        h.setAway(row.busyOnRetry);
        h.frames(3, h.two);
        ASSERT_TRUE(h.monitor->previewImage.get());
        h.camera->interrupt(row.reason);
        h.sim.drain();
        EXPECT_EQ(h.status(), row.text);
        EXPECT_FALSE(h.monitor->previewImage.get());
        EXPECT_FALSE(h.camera->isRunning());

        // Gone from the device list, or still held: each retry fails the same way.
        h.camera->device.reset();
        if (row.busyOnRetry) {
            h.camera->device = monitor::CameraDevice{"video0", "Test Camera"};
            busy(true);
        }
        const std::size_t attempts = h.log.count("camera.removeAll");
        h.sim.advance(3 * row.every + 0.01);
        EXPECT_EQ(h.log.count("camera.removeAll"), attempts + 3);
        EXPECT_EQ(h.status(), row.text);

        h.camera->device = monitor::CameraDevice{"video0", "Test Camera"};
        busy(false);
        h.sim.advance(row.every);
        EXPECT_EQ(h.status(), "● Test Camera");
        EXPECT_TRUE(h.camera->isRunning());
        EXPECT_TRUE(analyses());
        h.sim.advance(10.0);
        EXPECT_EQ(h.status(), "● Test Camera") << "no retry is left over";
    }
}

TEST_F(CameraFollowTest, AnotherCameraChosenIsTakenAfreshOrWaitedForAndTheSameOneRunsOn) {
    const auto choose = [&](std::optional<monitor::CameraDevice> device) {
        h.camera->device = std::move(device);
        h.monitor->cameraChoiceChanged();
        h.sim.drain();
    };
    h.setAway(true);
    const std::size_t attaches = h.log.count("camera.removeAll");
    choose(monitor::CameraDevice{"video0", "Test Camera"});
    EXPECT_EQ(h.log.count("camera.removeAll"), attaches) << "the same camera is not restarted";
    choose(monitor::CameraDevice{"video2", "HD Pro Webcam C920"});
    EXPECT_EQ(h.status(), "● HD Pro Webcam C920");
    EXPECT_TRUE(h.monitor->awayMode.get() && analyses());
    choose(std::nullopt);  // chosen, and not plugged in
    EXPECT_EQ(h.status(), "Камера: отключена");
    EXPECT_TRUE(!h.camera->isRunning() && h.monitor->isRunning.get()) << "monitoring on, waiting";
    h.camera->device = monitor::CameraDevice{"video2", "HD Pro Webcam C920"};
    h.sim.advance(2.0);
    EXPECT_EQ(h.status(), "● HD Pro Webcam C920");
    EXPECT_TRUE(analyses());
    h.stop();
    choose(monitor::CameraDevice{"video0", "Test Camera"});
    EXPECT_EQ(h.status(), "Стоп") << "a stopped monitor takes the choice at its next start";
}

TEST_F(CameraFollowTest, StopEndsThePauseAndTheWaitingForGood) {
    const Pause rows[] = {
        {"screen locked", [&] { screenLocked(true); }},
        {"camera lost", [&] { h.camera->interrupt(CameraInterruption::disconnected); }},
        {"paused by the user", [&] { pauseFor(60.0); }},
        {"stepped aside", [&] { other->tell(Event::otherWants); }},
    };
    for (const auto& [name, begin] : rows) {
        SCOPED_TRACE(name);
        h.start();
        begin();
        h.monitor->stop();
        h.sim.drain();
        screenLocked(false);
        h.sim.advance(10.0);
        EXPECT_EQ(h.status(), "Стоп");
        EXPECT_FALSE(h.camera->isRunning());
        h.camera->interrupt(CameraInterruption::disconnected);
        h.sim.drain();
        EXPECT_EQ(h.status(), "Стоп") << "a stopped monitor has no camera to lose";
    }
}

TEST_F(CameraFollowTest, TheUsersPauseEndsByItselfAtItsTimeOfDayAlsoAfterASleep) {
    h.frames(3, h.two);
    pauseFor(15 * 60.0);
    EXPECT_EQ(h.status(), "Пауза до 10:15");
    EXPECT_FALSE(h.camera->isRunning());
    EXPECT_TRUE(h.monitor->isRunning.get()) << "monitoring stays on, so that Стоп is offered";
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
    EXPECT_FALSE(h.pip->visible);
    EXPECT_FALSE(analyses());
    h.sim.advance(15 * 60.0 - 1.0);
    EXPECT_EQ(h.status(), "Пауза до 10:15");
    h.sim.advance(1.0);
    EXPECT_EQ(h.status(), "● Test Camera");
    EXPECT_FALSE(h.monitor->pausedUntil.get());
    EXPECT_TRUE(analyses());

    // An hour's pause, and the machine sleeps through it: at most half a minute after waking up.
    pauseFor(3600.0);
    ASSERT_TRUE(h.monitor->pausedUntil.get());
    EXPECT_DOUBLE_EQ(*h.monitor->pausedUntil.get(), h.sim.wall.now() + 3600.0);
    h.sim.advance(10.0);
    h.sim.wall.jump(3600.0);
    h.sim.advance(29.0);
    EXPECT_EQ(h.status(), "● Test Camera");
    EXPECT_TRUE(h.nothingScheduled());
}

TEST_F(CameraFollowTest, StartOrResumeEndTheUsersPauseAtOnceAndAPauseMakesTheUserPresent) {
    const std::pair<const char*, std::function<void()>> ends[] = {{"Старт", [&] { h.monitor->start(); }},
                                                                  {"Продолжить", [&] { h.monitor->resume(); }}};
    for (const auto& [name, end] : ends) {
        SCOPED_TRACE(name);
        h.setAway(true);
        pauseFor(600.0);
        EXPECT_FALSE(h.monitor->awayMode.get());
        end();
        h.sim.drain();
        EXPECT_EQ(h.status(), "● Test Camera");
        EXPECT_TRUE(h.camera->isRunning());
        EXPECT_TRUE(h.nothingScheduled());
    }
    // A pause that ends while the screen is locked leaves the camera off until the unlock.
    pauseFor(60.0);
    screenLocked(true);
    EXPECT_EQ(h.status(), "Пауза до 10:01");
    h.sim.advance(60.0);
    EXPECT_EQ(h.status(), "Пауза: экран заблокирован");
    EXPECT_FALSE(h.camera->isRunning());
    screenLocked(false);
    EXPECT_EQ(h.status(), "● Test Camera");
}

TEST_F(CameraFollowTest, AnotherProgramGetsTheCameraAtOnceAndTovakTakesItBackAfresh) {
    EXPECT_EQ(other->watched, "video0");
    h.frames(3, h.two);
    other->tell(Event::otherWants);
    h.sim.drain();
    EXPECT_EQ(h.status(), "Пауза: камера нужна другой программе");
    EXPECT_FALSE(h.camera->isRunning());
    EXPECT_TRUE(h.monitor->isRunning.get());
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
    EXPECT_FALSE(h.pip->visible);
    EXPECT_FALSE(analyses());
    h.sim.advance(60.0);
    EXPECT_EQ(h.status(), "Пауза: камера нужна другой программе") << "no retry while it is held";
    other->tell(Event::free);
    h.sim.drain();
    EXPECT_EQ(h.status(), "● Test Camera");
    EXPECT_TRUE(h.camera->isRunning());
    h.frames(2, h.two);
    EXPECT_EQ(h.pip->shows, 1) << "what was seen before the pause does not count";
    EXPECT_EQ(other->watches, 1) << "the same camera is watched on";

    // In away mode the camera is kept: anyone at the machine could blind the guard otherwise.
    h.setAway(true);
    other->tell(Event::otherWants);
    h.sim.drain();
    EXPECT_EQ(h.status(), "● Test Camera");
    EXPECT_TRUE(analyses());
    h.stop();
    EXPECT_TRUE(other->watched.empty()) << "Стоп ends the watch";
}

TEST_F(CameraFollowTest, ABusyCameraIsAPauseTooAndALostWatchFallsBackToTheRetry) {
    h.stop();
    busy(true);
    h.start();
    EXPECT_EQ(h.status(), "Пауза: камера нужна другой программе");
    EXPECT_TRUE(h.monitor->isRunning.get());
    EXPECT_EQ(other->holdOffs, 1);
    busy(false);
    other->tell(Event::free);
    h.sim.drain();
    EXPECT_EQ(h.status(), "● Test Camera");

    // Refused while running: the same pause. Then the watch is lost: the two-second retry takes over.
    h.camera->interrupt(CameraInterruption::busy);
    h.sim.drain();
    EXPECT_EQ(h.status(), "Пауза: камера нужна другой программе");
    EXPECT_EQ(other->holdOffs, 2);
    other->tell(Event::lost);
    h.sim.drain();
    EXPECT_EQ(h.status(), "Камера: занята другой программой");
    h.sim.advance(2.0);
    EXPECT_EQ(h.status(), "● Test Camera");
    EXPECT_EQ(other->watched, "video0") << "watched again once the camera is back";

    // A program that kept opening the camera without streaming is named once, and Tovak watches on.
    other->tell(Event::ignored, "v4l2-ctl");
    h.sim.drain();
    EXPECT_EQ(h.status(), "Камера не отдана: v4l2-ctl открывает её без съёмки");
    EXPECT_TRUE(analyses());
    other->tell(Event::ignored);
    h.sim.drain();
    EXPECT_EQ(h.status(), "Камера не отдана: её открывают без съёмки");
}

TEST_F(CameraFollowTest, AwayModeWhileSteppedAsideAsksForTheCameraAtOnceAndEveryHalfSecondAndSaysSo) {
    other->tell(Event::otherWants);
    h.sim.drain();
    busy(true);
    const std::size_t asked = h.log.count("camera.removeAll");
    h.setAway(true);
    EXPECT_EQ(h.log.count("camera.removeAll"), asked + 1) << "at once (and every half second, above)";
    EXPECT_EQ(h.status(), "Отошёл: камера занята другой программой");
    busy(false);
    other->tell(Event::free);
    h.sim.drain();
    EXPECT_EQ(h.status(), "● Test Camera");
    h.frames(3, h.one);
    EXPECT_TRUE(h.fullscreen->visible) << "away mode sees the moment it has the camera";

    // Back at the desk while it still waits: the other program is stepped aside for again.
    busy(true);
    h.camera->interrupt(CameraInterruption::busy);
    h.sim.drain();
    EXPECT_EQ(h.status(), "Отошёл: камера занята другой программой");
    h.setAway(false);
    EXPECT_EQ(h.status(), "Пауза: камера нужна другой программе");
    EXPECT_EQ(other->holdOffs, 1);
}

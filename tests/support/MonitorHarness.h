#pragma once

#include <functional>
#include <memory>

#include "imaging/PixelBuffer.h"
#include "monitor/PrivacyMonitor.h"
#include "runtime/Simulation.h"
#include "support/Fakes.h"

namespace tovak::testing {

template <typename T, typename U>
std::shared_ptr<T> unowned(U& object) {
    return std::shared_ptr<T>(std::shared_ptr<T>{}, &object);
}

// A monitor on the simulation runtime with recording doubles for every platform service.
struct MonitorHarness {
    using Faces = std::vector<monitor::FaceObservation>;
    runtime::Simulation sim;
    CallLog log;
    std::shared_ptr<FakeCamera> camera = std::make_shared<FakeCamera>(log);
    std::shared_ptr<ScriptedDetector> detector = std::make_shared<ScriptedDetector>();
    std::shared_ptr<RecordingPresenter> pip = std::make_shared<RecordingPresenter>(log, "pip");
    std::shared_ptr<RecordingPresenter> fullscreen = std::make_shared<RecordingPresenter>(log, "fullscreen");
    std::shared_ptr<FakeServices> services = std::make_shared<FakeServices>(log, sim.main);
    std::shared_ptr<RecordingObserver> observer = std::make_shared<RecordingObserver>();
    std::shared_ptr<FakeConnection> connection = std::make_shared<FakeConnection>();
    imaging::PixelBufferPtr frameBuffer = std::make_shared<const imaging::PixelBuffer>(64, 48);
    std::shared_ptr<monitor::PrivacyMonitor> monitor;
    bool osAtLeast14 = true;
    const Faces one = faces({0.05});
    const Faces two = faces({0.05, 0.03});

    using Adjust = std::function<void(monitor::Ports&)>;

    // adjust, when given, changes the wiring before the monitor is made (real windows, real stores).
    explicit MonitorHarness(const Adjust& adjust = {}) {
        monitor::Ports deps;
        deps.mainQueue = unowned<runtime::MainQueue>(sim.main);
        deps.sessionQueue = unowned<runtime::TaskQueue>(sim.session);
        deps.backgroundQueue = unowned<runtime::TaskQueue>(sim.background);
        deps.clock = unowned<runtime::Clock>(sim.clock);
        deps.wallClock = unowned<runtime::WallClock>(sim.wall);
        deps.session = camera;
        deps.faceDetector = detector;
        deps.pip = pip;
        deps.fullscreen = fullscreen;
        deps.screenLock = services;
        deps.settings = services;
        deps.fileSystem = services;
        deps.resources = services;
        deps.workspace = services;
        deps.documentCloser = services;
        deps.fileChooser = services;
        deps.isOperatingSystemAtLeast = [this](int major, int, int) { return major <= 14 && osAtLeast14; };
        deps.homeDirectory = "/home/user";
        deps.observer = observer;
        if (adjust) {
            adjust(deps);
        }
        monitor = monitor::PrivacyMonitor::create(std::move(deps));
        monitor->setPreviewWanted(true);
        sim.drain();
    }

    void start() {
        monitor->start();
        sim.drain();
    }
    void stop() {
        monitor->stop();
        sim.drain();
    }
    void setAway(bool on) {
        monitor->setAwayMode(on);
        sim.drain();
    }
    // One camera frame whose detection gives these faces; the clock moves on by dt first.
    void scripted(ScriptedDetector::FrameScript script, double dt = 1.0 / 30.0) {
        sim.advance(dt);
        detector->push(std::move(script));
        camera->deliver(frameBuffer, connection);
        sim.drain();
    }
    void frame(Faces list, double dt = 1.0 / 30.0) { scripted({std::move(list), std::nullopt}, dt); }
    void frames(int count, const Faces& list, double dt = 1.0 / 30.0) {
        for (int i = 0; i < count; ++i) {
            frame(list, dt);
        }
    }
    // A frame at an exact clock reading.
    void frameAt(double time, Faces list) {
        sim.clock.set(time);
        frame(std::move(list), 0.0);
    }
    // Answers the open file chooser.
    void choose(std::optional<std::string> answer) {
        std::exchange(services->pendingChoice, nullptr)(std::move(answer));
        sim.drain();
    }

    // Nothing delayed is waiting on the main queue: no panel hold, no lock, no camera retry.
    [[nodiscard]] bool nothingScheduled() const { return sim.main.pendingDelayed() == 0; }
    [[nodiscard]] std::string status() const { return monitor->statusLine.get(); }
};

}  // namespace tovak::testing

#pragma once

#include <functional>
#include <memory>

#include "imaging/PixelBuffer.h"
#include "monitor/PrivacyMonitor.h"
#include "runtime/Simulation.h"
#include "support/Fakes.h"

namespace tovak::testing {

// A monitor on the simulation runtime with recording fakes for every platform service.
struct MonitorHarness {
    runtime::Simulation sim;
    CallLog log;
    std::shared_ptr<FakeCamera> camera = std::make_shared<FakeCamera>(log);
    std::shared_ptr<ScriptedDetector> detector = std::make_shared<ScriptedDetector>();
    std::shared_ptr<RecordingPresenter> pip = std::make_shared<RecordingPresenter>(log, "pip");
    std::shared_ptr<RecordingPresenter> fullscreen = std::make_shared<RecordingPresenter>(log, "fullscreen");
    std::shared_ptr<FakeScreenLocker> locker = std::make_shared<FakeScreenLocker>(log, sim.main);
    std::shared_ptr<MemorySettings> settings = std::make_shared<MemorySettings>();
    std::shared_ptr<FakeFileSystem> files = std::make_shared<FakeFileSystem>();
    std::shared_ptr<FakeResources> resources = std::make_shared<FakeResources>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>(log);
    std::shared_ptr<FakeDocumentCloser> closer = std::make_shared<FakeDocumentCloser>(log);
    std::shared_ptr<FakeFileChooser> chooser = std::make_shared<FakeFileChooser>();
    std::shared_ptr<FakeConnection> connection = std::make_shared<FakeConnection>();
    imaging::PixelBufferPtr frameBuffer = std::make_shared<const imaging::PixelBuffer>(64, 48);
    std::shared_ptr<monitor::PrivacyMonitor> monitor;
    bool osAtLeast14 = true;

    using Adjust = std::function<void(monitor::PrivacyMonitor::Dependencies&)>;

    // adjust, when given, changes the wiring before the monitor is made (real windows, a
    // presenter that really crops).
    explicit MonitorHarness(const Adjust& adjust = {}) {
        monitor::PrivacyMonitor::Dependencies deps;
        deps.mainQueue = unowned<runtime::MainQueue>(sim.main);
        deps.sessionQueue = unowned<runtime::TaskQueue>(sim.session);
        deps.backgroundQueue = unowned<runtime::TaskQueue>(sim.background);
        deps.clock = unowned<runtime::Clock>(sim.clock);
        deps.session = camera;
        deps.faceDetector = detector;
        deps.pip = pip;
        deps.fullscreen = fullscreen;
        deps.screenLock = locker;
        deps.settings = settings;
        deps.fileSystem = files;
        deps.resources = resources;
        deps.workspace = workspace;
        deps.documentCloser = closer;
        deps.fileChooser = chooser;
        deps.isOperatingSystemAtLeast = [this](int major, int, int) { return major <= 14 && osAtLeast14; };
        deps.homeDirectory = "/home/user";
        if (adjust) {
            adjust(deps);
        }
        monitor = monitor::PrivacyMonitor::create(std::move(deps));
        sim.drain();
    }

    // Starts monitoring and lets the camera run.
    void startMonitoring() {
        monitor->start();
        sim.drain();
    }

    // One camera frame whose detection gives these faces; the clock moves on by dt first.
    void frame(std::vector<monitor::FaceObservation> list, double dt = 1.0 / 30.0) {
        scripted({std::move(list), std::nullopt}, dt);
    }
    void scripted(ScriptedDetector::FrameScript script, double dt = 1.0 / 30.0) {
        sim.advance(dt);
        detector->push(std::move(script));
        camera->deliver(frameBuffer, connection);
        sim.drain();
    }
    void failedFrame(double dt = 1.0 / 30.0) { scripted({std::nullopt, std::nullopt}, dt); }
    void frames(int count, const std::vector<monitor::FaceObservation>& list, double dt = 1.0 / 30.0) {
        for (int i = 0; i < count; ++i) {
            frame(list, dt);
        }
    }

    [[nodiscard]] monitor::PrivacyMonitor::DecisionState state() const { return monitor->decisionState(); }

    template <typename T, typename U>
    static std::shared_ptr<T> unowned(U& object) {
        return std::shared_ptr<T>(std::shared_ptr<T>{}, &object);
    }
};

inline const std::string kDefaultTrigger = "/opt/tovak/share/tovak/DefaultTrigger.csv";

}  // namespace tovak::testing

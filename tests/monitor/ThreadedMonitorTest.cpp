// The engine on real threads: a serial session queue, a main loop on its own thread and a camera
// thread, with the user's operations arriving from the main side while frames flow. Meant to be
// run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "runtime/SerialQueue.h"
#include "support/Fakes.h"
#include "support/ThreadedMainQueue.h"

using namespace tovak;
using namespace tovak::testing;

TEST(ThreadedMonitor, OperationsFromTheMainSideWhileFramesFlowStayConsistent) {
    CallLog log;
    auto main = std::make_shared<ThreadedMainQueue>();
    auto session = std::make_shared<runtime::SerialQueue>("tovak.session");
    auto background = std::make_shared<runtime::SerialQueue>("tovak.background");
    auto camera = std::make_shared<FakeCamera>(log);
    auto detector = std::make_shared<ScriptedDetector>();
    auto pip = std::make_shared<RecordingPresenter>(log, "pip");
    auto services = std::make_shared<FakeServices>(log, *main);
    services->lockSucceeds = false;

    monitor::Ports deps;
    deps.mainQueue = main;
    deps.sessionQueue = session;
    deps.backgroundQueue = background;
    deps.clock = std::make_shared<runtime::SystemClock>();
    deps.session = camera;
    deps.faceDetector = detector;
    deps.pip = pip;
    deps.fullscreen = std::make_shared<RecordingPresenter>(log, "fullscreen");
    deps.screenLock = services;
    deps.settings = services;
    deps.fileSystem = services;
    deps.resources = services;
    deps.workspace = services;
    deps.documentCloser = services;
    auto watcher = std::make_shared<FakeLockWatcher>();
    deps.lockWatcher = watcher;

    std::shared_ptr<monitor::PrivacyMonitor> monitor;
    main->sync([&] { monitor = monitor::PrivacyMonitor::create(deps); });
    main->sync([&] { monitor->start(); });

    std::atomic<bool> running{true};
    std::thread cameraThread([&] {
        auto frame = std::make_shared<const imaging::PixelBuffer>(160, 120);
        auto connection = std::make_shared<FakeConnection>();
        int n = 0;
        while (running) {
            // Runs of two faces, one face and none, so that every decision path is taken.
            const int phase = (n++ / 20) % 3;
            detector->setSteady(phase == 0   ? faces({0.05, 0.03})
                                : phase == 1 ? faces({0.05})
                                             : std::vector<monitor::FaceObservation>{});
            camera->deliver(frame, connection);
            if (n % 400 == 0) {
                // From the camera's own thread, as an unplugged camera reports it.
                camera->interrupt(monitor::CameraInterruption::disconnected);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });

    for (int i = 0; i < 1500; ++i) {
        main->async([&, i] {
            const std::function<void()> operations[] = {[&] { monitor->setAwayMode(true); },
                                                        [&] { monitor->userClosedPiP(); },
                                                        [&] { pip->pressClose(); },
                                                        [&] { monitor->setAwayMode(false); },
                                                        [&] { monitor->stop(), monitor->start(); },
                                                        [&] { monitor->start(); },
                                                        [&] { watcher->onChange(true); },
                                                        [&] { watcher->onChange(false); }};
            operations[i % 8]();
        });
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    running = false;
    cameraThread.join();

    main->sync([&] { monitor->stop(); });
    // Let the stop's two halves and everything queued behind them finish.
    for (int i = 0; i < 3; ++i) {
        main->sync([] {});
        std::promise<void> sessionDone;
        session->async([&] { sessionDone.set_value(); });
        sessionDone.get_future().wait();
        main->sync([] {});
    }
    main->sync([&] {
        EXPECT_EQ(monitor->statusLine.get(), "Стоп");
        EXPECT_FALSE(monitor->isRunning.get());
        EXPECT_FALSE(monitor->awayMode.get());
        EXPECT_FALSE(monitor->previewImage.get());
    });
    EXPECT_FALSE(camera->delegateAttached());

    session->shutdown();
    background->shutdown();
    main->sync([&] { monitor.reset(); });
    main->shutdown();
}

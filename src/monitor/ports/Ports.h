#pragma once

#include <functional>
#include <memory>
#include <string>

#include "monitor/ports/CameraContention.h"
#include "monitor/ports/CameraSession.h"
#include "monitor/ports/EngineObserver.h"
#include "monitor/ports/FaceDetector.h"
#include "monitor/ports/FacePresenter.h"
#include "monitor/ports/Services.h"
#include "monitor/ports/SessionLockWatcher.h"
#include "runtime/Clock.h"
#include "runtime/TaskQueue.h"

namespace tovak::monitor {

// Everything the monitor reaches the world through, handed over when it is made.
struct Ports {
    std::shared_ptr<runtime::MainQueue> mainQueue;
    // Made by the monitor as a SerialQueue labelled "tovak.session" when left empty.
    std::shared_ptr<runtime::TaskQueue> sessionQueue;
    // Runs the document-closing work off both main lanes.
    std::shared_ptr<runtime::TaskQueue> backgroundQueue;
    std::shared_ptr<runtime::Clock> clock;
    // Calendar time for pauses until a time of day; the system's when left empty.
    std::shared_ptr<runtime::WallClock> wallClock;

    std::shared_ptr<CameraSession> session;
    std::shared_ptr<FaceDetector> faceDetector;
    std::shared_ptr<PiPPresenter> pip;
    std::shared_ptr<FacePresenter> fullscreen;
    std::shared_ptr<ScreenLocker> screenLock;

    // The trigger document's services.
    std::shared_ptr<SettingsStore> settings;
    std::shared_ptr<FileSystem> fileSystem;
    std::shared_ptr<Resources> resources;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<DocumentCloser> documentCloser;
    std::shared_ptr<FileChooser> fileChooser;
    // Home folder for expanding a leading tilde in trigger paths.
    std::string homeDirectory;

    // The operating-system version check: true on the given version or later.
    std::function<bool(int major, int minor, int patch)> isOperatingSystemAtLeast;
    // Optional: told of each analysed frame and of what the engine decides.
    std::shared_ptr<EngineObserver> observer;
    // Optional: the camera pauses while the screen is locked.
    std::shared_ptr<SessionLockWatcher> lockWatcher;
    // Optional: the camera steps aside while another program wants it (in normal mode).
    std::shared_ptr<CameraContention> contention;
};

}  // namespace tovak::monitor

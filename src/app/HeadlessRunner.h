#pragma once

#include <functional>
#include <memory>
#include <ostream>

#include "app/CommandLine.h"
#include "camera/V4L2Devices.h"
#include "monitor/ports/Services.h"
#include "runtime/TaskQueue.h"

namespace tovak::facedetect {
class BlazeFaceDetector;
}

namespace tovak::app {

// Exit statuses of tovak.
enum ExitStatus : int {
    exitOk = 0,
    exitUsage = 1,
    exitBadSource = 2,
    exitNoModel = 3,
    exitCameraFailed = 4,
    // Commands for the running Tovak: none runs on the session bus; it refused or failed to answer.
    exitNotRunning = 5,
    exitRefused = 6,
};

struct HeadlessEnvironment {
    std::ostream& out;
    std::ostream& err;
    // The real locker; replaced by a reporting dry run with --lock dry-run.
    std::function<std::shared_ptr<monitor::ScreenLocker>(std::shared_ptr<runtime::MainQueue>)> makeLocker;
    // The device nodes a live camera is looked for in.
    std::function<camera::V4L2System()> v4l2 = [] { return camera::V4L2System::real(); };
    // Whether the lid is closed; logind on the system bus when left empty.
    std::function<bool()> lidClosed{};
};

// The engine with the real detector and the chosen camera, without windows: every event becomes
// one JSON line on env.out. The demo scene and files replay on their own timestamps (simulated
// clock and queues, deterministic, no frame dropped); a live camera runs in real time until
// --max-seconds or an interrupt. Returns the process exit status.
int runHeadless(const Options& options, HeadlessEnvironment& env);

// The camera the command line names; automatic without one.
[[nodiscard]] camera::CameraChoice cameraChoice(const Options& options);

// --list-cameras: one line per camera on env.out (name, device, identity, where it sits), colour
// cameras first; the infrared ones, which are not offered, marked.
int printCameras(HeadlessEnvironment& env);

// The installed face detector on the engine the options name; a fallback to OpenCV DNN is told on
// log.
std::shared_ptr<facedetect::BlazeFaceDetector> makeFaceDetector(const Options& options, std::ostream& log);

}  // namespace tovak::app

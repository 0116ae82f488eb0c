#include "app/HeadlessRunner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <thread>

#include "audit/AuditRecorder.h"
#include "camera/NodeContention.h"
#include "camera/V4L2CameraSession.h"
#include "camera/linux/LidQuestion.h"
#include "facedetect/BlazeFaceDetector.h"
#include "headless/EventLog.h"
#include "headless/FrameCountingSession.h"
#include "headless/ProcessResources.h"
#include "headless/ReportingAdapters.h"
#include "journal/JournalRecorder.h"
#include "monitor/PrivacyMonitor.h"
#include "runtime/LoopMainQueue.h"
#include "runtime/SerialQueue.h"
#include "runtime/Simulation.h"
#include "sources/SourceCameraSession.h"
#include "sources/SourceOpener.h"
#include "system/DataDirectory.h"
#include "trigger/PosixFileSystem.h"

namespace tovak::app {

using headless::EventLog;
using monitor::PrivacyMonitor;

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void onInterrupt(int) {
    gInterrupted = true;
}

template <typename T, typename U>
std::shared_ptr<T> unowned(U& object) {
    return std::shared_ptr<T>(std::shared_ptr<T>{}, &object);
}

// The reporting services and the detector around one monitor.
monitor::Ports reportingPorts(EventLog& log, const Options& options, HeadlessEnvironment& env,
                              std::shared_ptr<runtime::MainQueue> main, std::shared_ptr<monitor::FaceDetector> detector,
                              std::shared_ptr<monitor::CameraSession> camera) {
    monitor::Ports deps;
    deps.mainQueue = main;
    deps.session = std::move(camera);
    deps.faceDetector = std::move(detector);
    deps.pip = std::make_shared<headless::ReportingPresenter>(log, "pip");
    deps.fullscreen = std::make_shared<headless::ReportingPresenter>(log, "closeup");
    std::shared_ptr<monitor::ScreenLocker> locker =
        options.lockDryRun ? std::make_shared<headless::DryRunScreenLocker>(main) : env.makeLocker(main);
    deps.screenLock = std::make_shared<headless::ReportingScreenLocker>(log, std::move(locker));
    deps.fileSystem = std::make_shared<trigger::PosixFileSystem>();
    deps.resources = std::make_shared<system::DataDirectoryResources>();
    deps.workspace = std::make_shared<headless::ReportingWorkspace>(log);
    deps.documentCloser = std::make_shared<headless::ReportingDocumentCloser>(log);
    deps.observer = std::make_shared<headless::ReportingObserver>(log);
    const char* home = std::getenv("HOME");
    deps.homeDirectory = home != nullptr ? home : "";
    return deps;
}

// Published changes become events; call on the main queue.
void reportPublished(PrivacyMonitor& monitor, EventLog& log) {
    monitor.statusLine.observe([&monitor, &log](const std::string& next) {
        if (next != monitor.statusLine.get()) {
            log.emit("status", {EventLog::text("text", next)});
        }
    });
    monitor.isRunning.observe([&monitor, &log](const bool& next) {
        if (next != monitor.isRunning.get()) {
            log.emit("running", {EventLog::flag("value", next)});
        }
    });
    monitor.awayMode.observe([&monitor, &log](const bool& next) {
        if (next != monitor.awayMode.get()) {
            log.emit(next ? "away.on" : "away.off");
        }
    });
}

// With --loop: what the process holds, so that a long run shows whether anything grows.
// With it, how many frames went through the face network of how many it was given.
void reportResources(EventLog& log, const facedetect::BlazeFaceDetector& detector) {
    if (const std::optional<headless::ProcessResources> now = headless::ProcessResources::current()) {
        log.emit("resources", {EventLog::text("rss_kb", std::to_string(now->residentKilobytes)),
                               EventLog::text("fds", std::to_string(now->openFileDescriptors)),
                               EventLog::text("threads", std::to_string(now->threads)),
                               EventLog::text("frames_detected", std::to_string(detector.framesDetected())),
                               EventLog::text("frames_seen", std::to_string(detector.framesSeen()))});
    }
}

constexpr std::int64_t kFramesBetweenResourceReports = 10000;

// With --journal: a recorder wired into the ports, appending to the named file; none without it, or
// (said on env.err) when the file cannot be written.
std::shared_ptr<journal::JournalRecorder> journalFor(const Options& options, HeadlessEnvironment& env,
                                                     monitor::Ports& deps, std::shared_ptr<runtime::WallClock> calendar,
                                                     bool& failed) {
    failed = false;
    if (!options.journal) {
        return nullptr;
    }
    const std::filesystem::path path(*options.journal);
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    auto store = std::make_shared<journal::JournalStore>(folder, path.filename().string(),
                                                         journal::JournalStore::Folder::shared);
    if (path.filename().empty() || !store->prepare()) {
        env.err << "tovak: the journal cannot be written to " << *options.journal << "\n";
        failed = true;
        return nullptr;
    }
    auto recorder = journal::JournalRecorder::create(deps.mainQueue, std::move(calendar));
    recorder->keepIn(std::move(store), false);
    recorder->wire(deps);
    return recorder;
}

// The recorder follows the monitor; a failed write becomes a status event. Main queue.
void watchJournal(const std::shared_ptr<journal::JournalRecorder>& recorder, PrivacyMonitor& monitor) {
    if (!recorder) {
        return;
    }
    recorder->watch(monitor);
    recorder->setOnStatus([&monitor](const std::string& text) { monitor.statusLine.set(text); });
}

bool failedStart(const std::string& status) {
    return status.rfind("Камера", 0) == 0 || status.rfind("Детектор", 0) == 0;
}

// With --audit the run's records go to the systemd journal; without it a replay never fills it.
std::shared_ptr<audit::AuditRecorder> auditFor(const Options& options, monitor::Ports& deps) {
    if (!options.audit) {
        return nullptr;
    }
    auto recorder = audit::AuditRecorder::create(std::make_shared<audit::AuditTrail>());
    recorder->wire(deps);
    return recorder;
}

// Delivers the source's frames, the frames' own timestamps being the clock: delayed work runs
// between frames at its time.
void playFrames(sources::SourceCameraSession& sourceCamera, const Options& options, runtime::Simulation& sim,
                EventLog& log, const facedetect::BlazeFaceDetector& detector, camera::NodeContention* contention) {
    const double origin = sim.clock.now();
    const auto wallOrigin = std::chrono::steady_clock::now();
    std::int64_t delivered = 0;
    while (std::optional<sources::SourceFrame> frame = sourceCamera.read()) {
        if (options.maxSeconds && frame->timestamp >= *options.maxSeconds) {
            break;
        }
        if (options.realtime) {
            std::this_thread::sleep_until(wallOrigin + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                           std::chrono::duration<double>(frame->timestamp)));
        }
        if (options.loop && delivered % kFramesBetweenResourceReports == 0) {
            reportResources(log, detector);
        }
        sim.advance(std::max(0.0, origin + frame->timestamp - sim.clock.now()));
        if (contention != nullptr) {
            contention->deliverPending();
            sim.drain();
        }
        sourceCamera.deliver(std::move(frame->image));
        sim.drain();
        ++delivered;
    }
}

int replay(std::unique_ptr<sources::FrameSource> source, const Options& options, HeadlessEnvironment& env,
           const std::shared_ptr<facedetect::BlazeFaceDetector>& detector) {
    runtime::Simulation sim;
    if (!options.detectEveryFrame) {
        detector->useChangeTest(unowned<const runtime::Clock>(sim.clock));
    }
    EventLog log(env.out, sim.clock);
    log.reportFaceCounts(options.faceCounts);
    auto sourceCamera = std::make_shared<sources::SourceCameraSession>(std::move(source));
    auto camera = std::make_shared<headless::FrameCountingSession>(sourceCamera, log);
    monitor::Ports deps = reportingPorts(log, options, env, unowned<runtime::MainQueue>(sim.main), detector, camera);
    deps.sessionQueue = unowned<runtime::TaskQueue>(sim.session);
    deps.backgroundQueue = unowned<runtime::TaskQueue>(sim.background);
    deps.clock = unowned<runtime::Clock>(sim.clock);
    // The journal's calendar is the frames' own clock: a frame's timestamp t reads as t seconds after
    // 1970-01-01 00:00:00 UTC, so a replay writes the same times on every run.
    auto calendar = std::make_shared<runtime::ManualWallClock>(sim.clock, -sim.clock.now());
    bool journalFailed = false;
    const auto recorder = journalFor(options, env, deps, calendar, journalFailed);
    if (journalFailed) {
        return exitUsage;
    }
    const auto audit = auditFor(options, deps);
    // What the stand-in node's watcher sees is handed to the simulation between frames.
    std::shared_ptr<camera::NodeContention> contention;
    if (options.cameraNode) {
        contention =
            std::make_shared<camera::NodeContention>(*options.cameraNode, camera::NodeContention::Delivery::held);
        deps.contention = contention;
    }
    std::shared_ptr<PrivacyMonitor> monitor = PrivacyMonitor::create(std::move(deps));
    sim.drain();
    reportPublished(*monitor, log);
    watchJournal(recorder, *monitor);
    if (audit) {
        audit->watch(*monitor);
    }
    sim.main.async([&] {
        monitor->setIgnoredFaces(options.ignoredFaces);
        monitor->setLockOnLeave(options.lockOnLeaveSeconds);
    });

    monitor->start();
    sim.drain();
    if (!monitor->isRunning.get()) {
        env.err << "tovak: the monitor did not start: " << monitor->statusLine.get() << "\n";
        return exitCameraFailed;
    }
    playFrames(*sourceCamera, options, sim, log, *detector, contention.get());
    // The end of the source is a press of "Стоп".
    monitor->stop();
    sim.drain();
    if (recorder) {
        recorder->finish();
    }
    if (options.loop) {
        reportResources(log, *detector);
    }
    return exitOk;
}

int live(const Options& options, HeadlessEnvironment& env,
         const std::shared_ptr<facedetect::BlazeFaceDetector>& detector) {
    auto main = std::make_shared<runtime::LoopMainQueue>();
    auto session = std::make_shared<runtime::SerialQueue>("tovak.session");
    auto background = std::make_shared<runtime::SerialQueue>("tovak.background");
    runtime::SystemClock clock;
    if (!options.detectEveryFrame) {
        detector->useChangeTest(unowned<const runtime::Clock>(clock));
    }
    EventLog log(env.out, clock);
    log.reportFaceCounts(options.faceCounts);
    auto v4l2 = std::make_shared<camera::V4L2CameraSession>(env.v4l2());
    v4l2->setChoice(cameraChoice(options));
    v4l2->setLidClosed(env.lidClosed ? env.lidClosed : camera::systemLidQuestion());
    auto camera = std::make_shared<headless::FrameCountingSession>(v4l2, log);
    monitor::Ports deps = reportingPorts(log, options, env, main, detector, camera);
    deps.sessionQueue = session;
    deps.backgroundQueue = background;
    deps.clock = unowned<runtime::Clock>(clock);
    deps.contention = std::make_shared<camera::NodeContention>();
    bool journalFailed = false;
    const auto recorder = journalFor(options, env, deps, std::make_shared<runtime::SystemWallClock>(), journalFailed);
    if (journalFailed) {
        return exitUsage;
    }
    const auto audit = auditFor(options, deps);
    std::shared_ptr<PrivacyMonitor> monitor = PrivacyMonitor::create(std::move(deps));

    std::string failure;
    main->async([&] {
        reportPublished(*monitor, log);
        watchJournal(recorder, *monitor);
        if (audit) {
            audit->watch(*monitor);
        }
        monitor->setIgnoredFaces(options.ignoredFaces);
        monitor->setLockOnLeave(options.lockOnLeaveSeconds);
        monitor->statusLine.observe([&](const std::string& next) {
            if (failedStart(next)) {
                failure = next;
                main->quit();
            }
        });
        monitor->start();
    });
    gInterrupted = false;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    const auto started = std::chrono::steady_clock::now();
    const auto limit = options.maxSeconds ? started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                          std::chrono::duration<double>(*options.maxSeconds))
                                          : std::chrono::steady_clock::time_point::max();
    while (!gInterrupted && failure.empty()) {
        const auto slice = std::min(limit, std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
        if (main->runUntil(slice) || std::chrono::steady_clock::now() >= limit) {
            break;
        }
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    monitor->stop();
    // Lets the stop reach the main queue and finish there.
    main->runUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(300));
    if (recorder) {
        recorder->finish();
    }
    session->shutdown();
    background->shutdown();
    main->discardPending();
    if (!failure.empty()) {
        env.err << "tovak: the camera did not start: " << failure << "\n";
        return exitCameraFailed;
    }
    return exitOk;
}

}  // namespace

camera::CameraChoice cameraChoice(const Options& options) {
    using By = camera::CameraChoice::By;
    return options.cameraDevice ? camera::CameraChoice{By::node, *options.cameraDevice}
           : options.cameraName ? camera::CameraChoice{By::name, *options.cameraName}
                                : camera::CameraChoice{};
}

int printCameras(HeadlessEnvironment& env) {
    std::vector<camera::CameraInfo> cameras = camera::listCameras(env.v4l2()).cameras;
    std::stable_partition(cameras.begin(), cameras.end(), [](const auto& camera) { return !camera.infrared; });
    for (const camera::CameraInfo& camera : cameras) {
        const char* placement = camera.placement == camera::CameraPlacement::builtIn    ? "built-in"
                                : camera.placement == camera::CameraPlacement::external ? "external"
                                                                                        : "unknown";
        env.out << camera.name << "\t" << camera.path << "\t" << camera.identity << "\t" << placement
                << (camera.infrared ? "\tinfrared, not offered" : "") << "\n";
    }
    if (cameras.empty()) {
        env.err << "tovak: no camera found\n";
    }
    return exitOk;
}

std::shared_ptr<facedetect::BlazeFaceDetector> makeFaceDetector(const Options& options, std::ostream& log) {
    using Backend = facedetect::BlazeFaceDetector::Backend;
    const Backend backend = options.detector == DetectorBackend::opencv      ? Backend::opencv
                            : options.detector == DetectorBackend::onednnF32 ? Backend::onednnF32
                                                                             : Backend::onednn;
    return facedetect::BlazeFaceDetector::createInstalled(backend, log);
}

int runHeadless(const Options& options, HeadlessEnvironment& env) {
    auto detector = makeFaceDetector(options, env.err);
    if (!detector->isAvailable()) {
        env.err << "tovak: the face model is missing or broken (" << detector->loadError()
                << "); scripts/setup installs it\n";
        return exitNoModel;
    }
    if (!options.camera) {
        return live(options, env, detector);
    }
    std::string error;
    std::unique_ptr<sources::FrameSource> source = options.loop
                                                       ? sources::openLoopingSource(*options.camera, error, env.err)
                                                       : sources::openSource(*options.camera, error, env.err);
    if (!source) {
        env.err << "tovak: " << error
                << (*options.camera == "demo" ? "; scripts/setup installs the demo photographs" : "") << "\n";
        return exitBadSource;
    }
    return replay(std::move(source), options, env, detector);
}

}  // namespace tovak::app

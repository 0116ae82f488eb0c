#include "camera/V4L2CameraSession.h"

#include <cerrno>
#include <chrono>
#include <iostream>
#include <utility>

namespace tovak::camera {

namespace {

using Clock = std::chrono::steady_clock;

// How long one wait for a frame lasts before the loop looks at the clock again.
constexpr int readTimeoutMs = 100;
// The pause between two reads that failed, so a failing device is not asked in a spin.
constexpr int failedReadPauseMs = 10;

}  // namespace

V4L2CameraSession::V4L2CameraSession(V4L2System system, V4L2Calls calls)
    : system_(std::move(system)), calls_(std::move(calls)) {}

V4L2CameraSession::~V4L2CameraSession() {
    std::lock_guard lock(mutex_);
    stopCaptureLocked();
    input_.reset();
}

monitor::CameraAuthorization V4L2CameraSession::authorizationStatus() {
    // A camera whose node refuses us is not listed: "no access" unless the one to take is there.
    const CameraList list = listCameras(system_);
    return list.refused && !pickCamera(list.cameras, choice(), false) ? monitor::CameraAuthorization::denied
                                                                      : monitor::CameraAuthorization::authorized;
}

void V4L2CameraSession::requestAccess(std::function<void(bool granted)> answer) {
    // There is no prompt to show: the answer is what the device nodes allow.
    answer(authorizationStatus() == monitor::CameraAuthorization::authorized);
}

void V4L2CameraSession::setChoice(CameraChoice choice) {
    std::lock_guard lock(choiceMutex_);
    choice_ = std::move(choice);
}

CameraChoice V4L2CameraSession::choice() const {
    std::lock_guard lock(choiceMutex_);
    return choice_;
}

std::optional<monitor::CameraDevice> V4L2CameraSession::defaultVideoDevice() {
    const CameraChoice chosen = choice();
    const bool lidClosed = chosen.by == CameraChoice::By::automatic && lidClosed_ && lidClosed_();
    const std::optional<CameraInfo> camera = pickCamera(listCameras(system_).cameras, chosen, lidClosed);
    waitsForChoice_ = !camera && chosen.by != CameraChoice::By::automatic;
    if (!camera) {
        return std::nullopt;
    }
    return monitor::CameraDevice{camera->path, camera->name};
}

bool V4L2CameraSession::addInput(const monitor::CameraDevice& device) {
    {
        // The input this replaces lets go of its camera first: it may be the same one.
        std::lock_guard lock(mutex_);
        stopCaptureLocked();
        input_.reset();
    }
    auto capture = std::make_shared<V4L2Capture>(calls_);
    const V4L2Capture::OpenResult result = capture->open(device.id);
    lastInputBusy_ = result == V4L2Capture::OpenResult::busy;
    if (result != V4L2Capture::OpenResult::opened) {
        // The status line says the camera failed; this says why, once until it changes.
        if (result == V4L2Capture::OpenResult::failed && capture->failure() != lastFailure_) {
            lastFailure_ = capture->failure();
            std::cerr << "tovak: camera " << device.id << ": " << lastFailure_ << "\n";
        }
        return false;
    }
    lastFailure_.clear();
    std::lock_guard lock(mutex_);
    input_ = std::move(capture);
    return true;
}

bool V4L2CameraSession::addVideoOutput() {
    std::lock_guard lock(mutex_);
    hasOutput_ = true;
    return true;
}

void V4L2CameraSession::removeAllInputsAndOutputs() {
    std::lock_guard lock(mutex_);
    stopCaptureLocked();
    input_.reset();
    hasOutput_ = false;
}

void V4L2CameraSession::commitConfiguration() {
    // A running session picks up a new input at once, as it would after startRunning.
    std::lock_guard lock(mutex_);
    if (running_) {
        startCaptureLocked();
    }
}

void V4L2CameraSession::setSampleBufferDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate,
                                                std::shared_ptr<runtime::TaskQueue> queue) {
    mailbox_->setDelegate(std::move(delegate), std::move(queue));
}

void V4L2CameraSession::startRunning() {
    std::lock_guard lock(mutex_);
    running_ = true;
    startCaptureLocked();
}

void V4L2CameraSession::stopRunning() {
    std::lock_guard lock(mutex_);
    running_ = false;
    stopCaptureLocked();
    // Stopping gives the camera back; the next start attaches it again.
    input_.reset();
}

void V4L2CameraSession::setInterruptionHandler(std::function<void(monitor::CameraInterruption)> handler) {
    std::lock_guard lock(handlerMutex_);
    interruption_ = std::move(handler);
}

void V4L2CameraSession::startCaptureLocked() {
    if (captureThread_.joinable() || !input_ || !hasOutput_) {
        return;
    }
    captureThread_ = std::thread([this, capture = input_] { captureLoop(capture); });
}

void V4L2CameraSession::stopCaptureLocked() {
    if (captureThread_.joinable()) {
        input_->requestStop();
        captureThread_.join();
    }
}

void V4L2CameraSession::tell(monitor::CameraInterruption reason) {
    std::function<void(monitor::CameraInterruption)> handler;
    {
        std::lock_guard lock(handlerMutex_);
        handler = interruption_;
    }
    if (handler) {
        handler(reason);
    }
}

void V4L2CameraSession::captureLoop(const std::shared_ptr<V4L2Capture>& capture) {
    if (const int started = capture->startStreaming(); started < 0) {
        tell(started == -EBUSY ? monitor::CameraInterruption::busy : monitor::CameraInterruption::disconnected);
        return;
    }
    const FrameFormat format = capture->format();
    std::unique_ptr<imaging::PixelBuffer> buffer;
    Clock::time_point lastFrame = Clock::now();
    std::optional<Clock::time_point> failingSince;
    for (;;) {
        if (!buffer) {
            buffer = pool_->take(format.width, format.height);
        }
        const V4L2Capture::ReadResult result = capture->read(*buffer, readTimeoutMs);
        const Clock::time_point now = Clock::now();
        switch (result) {
            case V4L2Capture::ReadResult::stopped:
                return;
            case V4L2Capture::ReadResult::frame:
                lastFrame = now;
                failingSince.reset();
                mailbox_->offer(pool_->share(std::move(buffer)));
                continue;
            case V4L2Capture::ReadResult::failed:
                if (!failingSince) {
                    failingSince = now;
                }
                break;
            case V4L2Capture::ReadResult::timedOut:
            case V4L2Capture::ReadResult::dropped:
                break;
        }
        const bool failedTooLong =
            failingSince && now - *failingSince >= std::chrono::duration<double>(failingReadsSeconds);
        if (failedTooLong || now - lastFrame >= std::chrono::duration<double>(silentSeconds)) {
            // Unplugged: the monitor is told once and takes it from there.
            tell(monitor::CameraInterruption::disconnected);
            return;
        }
        if (result == V4L2Capture::ReadResult::failed && capture->waitForStop(failedReadPauseMs)) {
            return;
        }
    }
}

}  // namespace tovak::camera

#include "camera/V4L2CameraSession.h"

#include <cerrno>
#include <chrono>
#include <iostream>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <utility>

#include "camera/media/MediaLoader.h"

namespace tovak::camera {

namespace {

std::shared_ptr<media::Capture> openV4L2Capture(const std::string& path) {
    std::string error;
    const media::MediaModule* module = media::loadMediaModule(error);
    if (module == nullptr) {
        // The status line says the camera failed; this says why, once.
        static std::once_flag told;
        std::call_once(told, [&] { std::cerr << "tovak: camera " << path << ": " << error << "\n"; });
        return nullptr;
    }
    return module->openCamera(path, V4L2CameraSession::requestedWidth, V4L2CameraSession::requestedHeight);
}

}  // namespace

V4L2CameraSession::V4L2CameraSession(V4L2System system, CaptureOpener openCapture)
    : system_(std::move(system)), openCapture_(openCapture ? std::move(openCapture) : CaptureOpener(openV4L2Capture)) {}

V4L2CameraSession::~V4L2CameraSession() {
    std::lock_guard lock(mutex_);
    stopCaptureLocked();
    input_.reset();
}

monitor::CameraAuthorization V4L2CameraSession::authorizationStatus() {
    return probeDefaultCamera(system_).outcome == CameraProbe::Outcome::accessDenied
               ? monitor::CameraAuthorization::denied
               : monitor::CameraAuthorization::authorized;
}

void V4L2CameraSession::requestAccess(std::function<void(bool granted)> answer) {
    // There is no prompt to show: the answer is what the device nodes allow.
    answer(authorizationStatus() == monitor::CameraAuthorization::authorized);
}

std::optional<monitor::CameraDevice> V4L2CameraSession::defaultVideoDevice() {
    const CameraProbe probe = probeDefaultCamera(system_);
    if (probe.outcome != CameraProbe::Outcome::found) {
        return std::nullopt;
    }
    return monitor::CameraDevice{probe.path, probe.name};
}

bool V4L2CameraSession::addInput(const monitor::CameraDevice& device) {
    std::shared_ptr<media::Capture> capture = openCapture_(device.id);
    lastInputBusy_ = !capture && deviceIsBusy(device.id);
    if (!capture) {
        return false;
    }
    std::lock_guard lock(mutex_);
    stopCaptureLocked();
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

bool V4L2CameraSession::deviceIsBusy(const std::string& path) const {
    const int fd = system_.open(path);
    if (fd < 0) {
        return fd == -EBUSY;
    }
    const bool busy = system_.isBusy && system_.isBusy(fd);
    system_.close(fd);
    return busy;
}

void V4L2CameraSession::setInterruptionHandler(std::function<void(monitor::CameraInterruption)> handler) {
    std::lock_guard lock(handlerMutex_);
    interruption_ = std::move(handler);
}

void V4L2CameraSession::startCaptureLocked() {
    if (captureThread_.joinable() || !input_ || !hasOutput_) {
        return;
    }
    stopCapture_ = false;
    captureThread_ = std::thread([this, capture = input_] { captureLoop(capture); });
}

void V4L2CameraSession::stopCaptureLocked() {
    stopCapture_ = true;
    if (captureThread_.joinable()) {
        captureThread_.join();
    }
}

void V4L2CameraSession::captureLoop(std::shared_ptr<media::Capture> capture) {
    cv::Mat bgr;
    std::optional<std::chrono::steady_clock::time_point> failingSince;
    while (!stopCapture_) {
        if (!capture->read(bgr)) {
            const auto now = std::chrono::steady_clock::now();
            if (!failingSince) {
                failingSince = now;
            } else if (now - *failingSince >= std::chrono::duration<double>(failingReadsSeconds)) {
                // Unplugged: the monitor is told once and takes it from there.
                std::function<void(monitor::CameraInterruption)> handler;
                {
                    std::lock_guard lock(handlerMutex_);
                    handler = interruption_;
                }
                if (handler && !stopCapture_) {
                    handler(monitor::CameraInterruption::disconnected);
                }
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        failingSince.reset();
        // A fresh buffer per frame: the previous one may still be in the engine's hands.
        cv::Mat bgra;
        cv::cvtColor(bgr, bgra, bgr.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
        mailbox_->offer(std::make_shared<const imaging::PixelBuffer>(std::move(bgra)));
    }
}

}  // namespace tovak::camera

#include "platform/opencv/V4L2CameraSession.h"

#include <chrono>
#include <opencv2/imgproc.hpp>
#include <utility>

namespace tovak::platform {

namespace {

// Reads that fail in a row before the camera counts as gone (unplugged): about half a second.
constexpr int kFailedReadsBeforeGone = 50;

}  // namespace

V4L2CameraSession::V4L2CameraSession(V4L2System system) : system_(std::move(system)) {}

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
    auto capture = std::make_shared<cv::VideoCapture>();
    try {
        if (!capture->open(device.id, cv::CAP_V4L2)) {
            return false;
        }
        capture->set(cv::CAP_PROP_FRAME_WIDTH, requestedWidth);
        capture->set(cv::CAP_PROP_FRAME_HEIGHT, requestedHeight);
        // A small driver queue keeps the frames we read recent.
        capture->set(cv::CAP_PROP_BUFFERSIZE, 1);
    } catch (const cv::Exception&) {
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

void V4L2CameraSession::captureLoop(std::shared_ptr<cv::VideoCapture> capture) {
    cv::Mat bgr;
    int failures = 0;
    while (!stopCapture_) {
        bool ok = false;
        try {
            ok = capture->read(bgr) && !bgr.empty();
        } catch (const cv::Exception&) {
            ok = false;
        }
        if (!ok) {
            // An unplugged camera only stops the frames; the session keeps its state until stop.
            if (++failures >= kFailedReadsBeforeGone) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        failures = 0;
        // A fresh buffer per frame: the previous one may still be in the engine's hands.
        cv::Mat bgra;
        cv::cvtColor(bgr, bgra, bgr.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
        mailbox_->offer(std::make_shared<const imaging::PixelBuffer>(std::move(bgra)));
    }
}

}  // namespace tovak::platform

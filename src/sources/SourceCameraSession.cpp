#include "sources/SourceCameraSession.h"

#include <utility>

namespace tovak::sources {

SourceCameraSession::SourceCameraSession(std::unique_ptr<FrameSource> source) : source_(std::move(source)) {}

void SourceCameraSession::removeAllInputsAndOutputs() {
    std::lock_guard lock(mutex_);
    hasInput_ = false;
    hasOutput_ = false;
}

std::optional<monitor::CameraDevice> SourceCameraSession::defaultVideoDevice() {
    if (!source_) {
        return std::nullopt;
    }
    return monitor::CameraDevice{"source", source_->name()};
}

bool SourceCameraSession::addInput(const monitor::CameraDevice& device) {
    std::lock_guard lock(mutex_);
    hasInput_ = source_ && device.id == "source";
    return hasInput_;
}

bool SourceCameraSession::addVideoOutput() {
    std::lock_guard lock(mutex_);
    hasOutput_ = true;
    return true;
}

void SourceCameraSession::setSampleBufferDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate,
                                                  std::shared_ptr<runtime::TaskQueue> queue) {
    mailbox_->setDelegate(std::move(delegate), std::move(queue));
}

std::optional<SourceFrame> SourceCameraSession::read() {
    if (!source_) {
        return std::nullopt;
    }
    return source_->next();
}

bool SourceCameraSession::deliver(imaging::PixelBufferPtr frame) {
    {
        std::lock_guard lock(mutex_);
        if (!running_ || !hasInput_ || !hasOutput_) {
            return false;
        }
    }
    return mailbox_->offer(std::move(frame));
}

}  // namespace tovak::sources

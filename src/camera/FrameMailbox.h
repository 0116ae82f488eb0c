#pragma once

#include <memory>
#include <mutex>

#include "imaging/PixelBuffer.h"
#include "monitor/ports/CameraSession.h"
#include "runtime/TaskQueue.h"

namespace tovak::camera {

// The connection of a camera that delivers frames as they are: no rotation, no mirroring.
class UprightConnection final : public monitor::CaptureConnection {
  public:
    [[nodiscard]] double videoRotationAngle() const override { return 0.0; }
    [[nodiscard]] bool isVideoMirrored() const override { return false; }
};

// Hands frames from a producer thread to the delegate on its queue, one at a time. One slot: a
// frame offered while the previous one waits replaces it (the newest wins), so at most one
// delivery is ever queued and a slow consumer drops frames instead of falling behind.
class FrameMailbox : public std::enable_shared_from_this<FrameMailbox> {
  public:
    static std::shared_ptr<FrameMailbox> make() { return std::shared_ptr<FrameMailbox>(new FrameMailbox()); }

    // Any thread. A delivery that runs on a queue other than the current one delivers nothing.
    void setDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate, std::shared_ptr<runtime::TaskQueue> queue);
    // Producer thread. False when no delegate is attached (the frame is dropped).
    bool offer(imaging::PixelBufferPtr frame);
    // Frames replaced in the slot before they were delivered.
    [[nodiscard]] std::size_t dropped() const;

  private:
    FrameMailbox() = default;
    void deliver();

    mutable std::mutex mutex_;
    imaging::PixelBufferPtr slot_;
    bool deliveryQueued_ = false;
    std::size_t dropped_ = 0;
    std::weak_ptr<monitor::SampleBufferDelegate> delegate_;
    std::shared_ptr<runtime::TaskQueue> queue_;
    UprightConnection connection_;
};

}  // namespace tovak::camera

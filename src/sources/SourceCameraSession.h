#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "camera/FrameMailbox.h"
#include "monitor/ports/CameraSession.h"
#include "sources/FrameSource.h"

namespace tovak::sources {

// A capture session whose camera is a frame source (the demo scene or a file). Frames go out only
// when the owner reads and delivers them, so a replay runs on the owner's clock: as fast as the
// machine allows, and, with the queue drained between frames, without dropping any.
class SourceCameraSession final : public monitor::CameraSession {
  public:
    explicit SourceCameraSession(std::unique_ptr<FrameSource> source);

    [[nodiscard]] monitor::CameraAuthorization authorizationStatus() override {
        return monitor::CameraAuthorization::authorized;
    }
    void requestAccess(std::function<void(bool granted)> answer) override { answer(true); }
    void beginConfiguration() override {}
    void commitConfiguration() override {}
    void removeAllInputsAndOutputs() override;
    [[nodiscard]] std::optional<monitor::CameraDevice> defaultVideoDevice() override;
    bool addInput(const monitor::CameraDevice& device) override;
    bool addVideoOutput() override;
    void setSampleBufferDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate,
                                 std::shared_ptr<runtime::TaskQueue> queue) override;
    [[nodiscard]] bool isRunning() const override { return running_; }
    void startRunning() override { running_ = true; }
    void stopRunning() override { running_ = false; }

    // The source's next frame; none at the end.
    std::optional<SourceFrame> read();
    // Hands the frame to the delegate's queue; false (the frame is lost, as a camera's would be)
    // unless the session runs with its input, its output and a delegate attached.
    bool deliver(imaging::PixelBufferPtr frame);

  private:
    std::unique_ptr<FrameSource> source_;
    std::shared_ptr<camera::FrameMailbox> mailbox_ = camera::FrameMailbox::make();
    std::atomic<bool> running_{false};
    std::mutex mutex_;
    bool hasInput_ = false;
    bool hasOutput_ = false;
};

}  // namespace tovak::sources

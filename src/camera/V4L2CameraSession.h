#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "camera/FrameMailbox.h"
#include "camera/V4L2Devices.h"
#include "camera/media/MediaModule.h"
#include "monitor/ports/CameraSession.h"

namespace tovak::camera {

// The capture session on a V4L2 camera through OpenCV. Linux asks no one for permission: a camera
// whose node refuses us is "denied", anything else is "authorized" and fails, if it does, when the
// device is taken. While the session runs and has an input and the output, a capture thread reads
// frames, turns them into BGRA and hands the newest to the delegate through a one-slot mailbox.
class V4L2CameraSession final : public monitor::CameraSession {
  public:
    // The medium preset's size, asked of the camera; it may deliver another.
    static constexpr int requestedWidth = 640;
    static constexpr int requestedHeight = 480;

    // Opens the capture on a device node; none when it cannot be opened. By default through the
    // media module, loaded on the first open.
    using CaptureOpener = std::function<std::shared_ptr<media::Capture>(const std::string& path)>;
    // How long reads may fail before the camera counts as gone.
    static constexpr double failingReadsSeconds = 0.5;

    explicit V4L2CameraSession(V4L2System system = V4L2System::real(), CaptureOpener openCapture = {});
    ~V4L2CameraSession() override;
    V4L2CameraSession(const V4L2CameraSession&) = delete;
    V4L2CameraSession& operator=(const V4L2CameraSession&) = delete;

    [[nodiscard]] monitor::CameraAuthorization authorizationStatus() override;
    void requestAccess(std::function<void(bool granted)> answer) override;

    void beginConfiguration() override {}
    void commitConfiguration() override;
    void removeAllInputsAndOutputs() override;
    [[nodiscard]] std::optional<monitor::CameraDevice> defaultVideoDevice() override;
    bool addInput(const monitor::CameraDevice& device) override;
    bool addVideoOutput() override;
    void setSampleBufferDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate,
                                 std::shared_ptr<runtime::TaskQueue> queue) override;

    [[nodiscard]] bool isRunning() const override { return running_; }
    void startRunning() override;
    void stopRunning() override;
    void setInterruptionHandler(std::function<void(monitor::CameraInterruption)> handler) override;
    [[nodiscard]] bool lastInputWasBusy() const override { return lastInputBusy_; }

  private:
    // Both with mutex_ held.
    void startCaptureLocked();
    void stopCaptureLocked();
    void captureLoop(std::shared_ptr<media::Capture> capture);

    [[nodiscard]] bool deviceIsBusy(const std::string& path) const;

    V4L2System system_;
    CaptureOpener openCapture_;
    std::atomic<bool> lastInputBusy_{false};
    std::mutex handlerMutex_;
    std::function<void(monitor::CameraInterruption)> interruption_;  // guarded by handlerMutex_
    std::shared_ptr<FrameMailbox> mailbox_ = FrameMailbox::make();
    std::atomic<bool> running_{false};

    // Configuration comes from the session queue and start/stop from the main thread.
    std::mutex mutex_;
    std::shared_ptr<media::Capture> input_;
    bool hasOutput_ = false;
    std::thread captureThread_;
    std::atomic<bool> stopCapture_{false};
};

}  // namespace tovak::camera

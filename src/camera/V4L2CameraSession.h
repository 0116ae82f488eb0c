#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "camera/FrameMailbox.h"
#include "camera/FramePool.h"
#include "camera/V4L2Capture.h"
#include "camera/V4L2Devices.h"
#include "monitor/ports/CameraSession.h"

namespace tovak::camera {

// The capture session on a V4L2 camera through Tovak's own capture on libv4l2. Linux asks no one
// for permission: a camera whose node refuses us is "denied", anything else is "authorized" and
// fails, if it does, when the device is taken. addInput opens the camera, sets its format and maps
// its buffers (so "busy" is known there); while the session runs with an input and the output, a
// capture thread streams, converts each frame to BGRA in a recycled buffer and hands the newest to
// the delegate through a one-slot mailbox. Stopping gives the camera up at once.
class V4L2CameraSession final : public monitor::CameraSession {
  public:
    // How long reads may fail (a device error) before the camera counts as gone.
    static constexpr double failingReadsSeconds = 0.5;
    // How long a camera may send nothing at all, its start included, before it counts as gone.
    static constexpr double silentSeconds = 2.0;

    explicit V4L2CameraSession(V4L2System system = V4L2System::real(), V4L2Calls calls = V4L2Calls::real());
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
    [[nodiscard]] bool waitsForChosenDevice() const override { return waitsForChoice_; }

    // Which camera the next start, or the monitor's next look for one, takes. Any thread.
    void setChoice(CameraChoice choice);
    [[nodiscard]] CameraChoice choice() const;
    // Asked, on the session queue, whenever a camera is chosen automatically; the lid counts as
    // open without it. Set before the first start.
    void setLidClosed(std::function<bool()> lidClosed) { lidClosed_ = std::move(lidClosed); }
    [[nodiscard]] const V4L2System& system() const { return system_; }

  private:
    // Both with mutex_ held.
    void startCaptureLocked();
    void stopCaptureLocked();
    void captureLoop(const std::shared_ptr<V4L2Capture>& capture);
    void tell(monitor::CameraInterruption reason);

    V4L2System system_;
    V4L2Calls calls_;
    std::function<bool()> lidClosed_;
    mutable std::mutex choiceMutex_;
    CameraChoice choice_;  // guarded by choiceMutex_
    std::atomic<bool> waitsForChoice_{false};
    std::atomic<bool> lastInputBusy_{false};
    std::mutex handlerMutex_;
    std::function<void(monitor::CameraInterruption)> interruption_;  // guarded by handlerMutex_
    std::shared_ptr<FrameMailbox> mailbox_ = FrameMailbox::make();
    std::shared_ptr<FramePool> pool_ = FramePool::make();
    std::string lastFailure_;  // told on standard error once until it changes
    std::atomic<bool> running_{false};

    // Configuration comes from the session queue and start/stop from the main thread.
    std::mutex mutex_;
    std::shared_ptr<V4L2Capture> input_;
    bool hasOutput_ = false;
    std::thread captureThread_;
};

}  // namespace tovak::camera

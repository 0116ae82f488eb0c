#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "imaging/PixelBuffer.h"
#include "runtime/TaskQueue.h"

namespace tovak::monitor {

// How a frame reaches the monitor: the connection it came through tells its rotation and mirroring.
class CaptureConnection {
  public:
    virtual ~CaptureConnection() = default;
    // Degrees: 0, 90, 180 or 270.
    [[nodiscard]] virtual double videoRotationAngle() const = 0;
    [[nodiscard]] virtual bool isVideoMirrored() const = 0;
};

// Receives frames on the delivery queue, one at a time.
class SampleBufferDelegate {
  public:
    virtual ~SampleBufferDelegate() = default;
    // imageBuffer is null when the sample carried no image.
    virtual void captureOutput(imaging::PixelBufferPtr imageBuffer, const CaptureConnection& connection) = 0;
};

enum class CameraAuthorization { notDetermined, restricted, denied, authorized };

// Why a running camera stopped delivering frames.
enum class CameraInterruption { disconnected, busy };

struct CameraDevice {
    std::string id;
    std::string localizedName;
};

// The capture session with its video output (32-bit BGRA, late frames dropped) and the camera
// permission. Configuration calls come from the session queue; startRunning and stopRunning from
// the main thread; isRunning from either.
class CameraSession {
  public:
    virtual ~CameraSession() = default;

    [[nodiscard]] virtual CameraAuthorization authorizationStatus() = 0;
    // Asks the user; the answer arrives once, on any thread.
    virtual void requestAccess(std::function<void(bool granted)> answer) = 0;

    virtual void beginConfiguration() = 0;
    virtual void commitConfiguration() = 0;
    // Removes every attached input, in list order, then every output.
    virtual void removeAllInputsAndOutputs() = 0;
    [[nodiscard]] virtual std::optional<CameraDevice> defaultVideoDevice() = 0;
    // Creates an input for the device and attaches it; false when it cannot be created or added.
    virtual bool addInput(const CameraDevice& device) = 0;
    // Attaches the video output; false when the session refuses it.
    virtual bool addVideoOutput() = 0;
    // Frames go to the delegate on the queue; an empty delegate stops delivery. No frame reaches a
    // delegate after it has been detached on the delivery queue.
    virtual void setSampleBufferDelegate(std::weak_ptr<SampleBufferDelegate> delegate,
                                         std::shared_ptr<runtime::TaskQueue> queue) = 0;

    [[nodiscard]] virtual bool isRunning() const = 0;
    virtual void startRunning() = 0;
    virtual void stopRunning() = 0;

    // Told once, on any thread, when the running camera stops delivering frames. A session whose
    // camera cannot go away (a file, the demo) never calls it.
    virtual void setInterruptionHandler(std::function<void(CameraInterruption)> handler) { (void)handler; }
    // Whether the last addInput failed because another program holds the camera.
    [[nodiscard]] virtual bool lastInputWasBusy() const { return false; }
    // Whether the last defaultVideoDevice found none because the camera the user chose is not there
    // now: monitoring then waits for it rather than take another.
    [[nodiscard]] virtual bool waitsForChosenDevice() const { return false; }
};

}  // namespace tovak::monitor

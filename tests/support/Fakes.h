#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "monitor/CameraSession.h"
#include "monitor/FaceDetector.h"
#include "monitor/FacePresenter.h"
#include "monitor/PrivacyMonitor.h"
#include "monitor/Services.h"
#include "runtime/Simulation.h"

namespace tovak::testing {

// Everything the fakes were asked to do, in order, from any thread.
class CallLog {
  public:
    void add(std::string entry);
    [[nodiscard]] std::vector<std::string> entries() const;
    [[nodiscard]] std::size_t count(const std::string& entry) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

struct FakeConnection final : monitor::CaptureConnection {
    double angle = 0;
    bool mirrored = false;
    mutable std::atomic<int> angleReads{0};
    [[nodiscard]] double videoRotationAngle() const override {
        ++angleReads;
        return angle;
    }
    [[nodiscard]] bool isVideoMirrored() const override { return mirrored; }
};

class FakeCamera final : public monitor::CameraSession {
  public:
    explicit FakeCamera(CallLog& log) : log_(log) {}

    monitor::CameraAuthorization authorization = monitor::CameraAuthorization::authorized;
    std::optional<monitor::CameraDevice> device = monitor::CameraDevice{"video0", "Test Camera"};
    bool inputAccepted = true;
    bool outputAccepted = true;
    // A refused input was refused because another program holds the camera.
    bool inputBusy = false;

    [[nodiscard]] monitor::CameraAuthorization authorizationStatus() override { return authorization; }
    void requestAccess(std::function<void(bool)> answer) override;
    // Answers a pending permission prompt.
    void answerPermission(bool granted);
    [[nodiscard]] bool permissionPending() const;

    void beginConfiguration() override { log_.add("camera.begin"); }
    void commitConfiguration() override { log_.add("camera.commit"); }
    void removeAllInputsAndOutputs() override;
    [[nodiscard]] std::optional<monitor::CameraDevice> defaultVideoDevice() override { return device; }
    bool addInput(const monitor::CameraDevice& device) override;
    bool addVideoOutput() override;
    void setSampleBufferDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate,
                                 std::shared_ptr<runtime::TaskQueue> queue) override;

    [[nodiscard]] bool isRunning() const override { return running_; }
    void startRunning() override;
    void stopRunning() override;

    // Set once, when the monitor is made, before any other thread runs.
    void setInterruptionHandler(std::function<void(monitor::CameraInterruption)> handler) override {
        interruption_ = std::move(handler);
    }
    [[nodiscard]] bool lastInputWasBusy() const override { return inputBusy; }
    // The running camera stops delivering, as an unplugged or stolen one does.
    void interrupt(monitor::CameraInterruption reason) { interruption_(reason); }

    // Hands a frame to the delegate's queue, as a camera would; false when no delegate is attached.
    bool deliver(imaging::PixelBufferPtr frame, std::shared_ptr<const monitor::CaptureConnection> connection);

    [[nodiscard]] int inputs() const { return inputs_; }
    [[nodiscard]] int outputs() const { return outputs_; }
    [[nodiscard]] int startCount() const { return starts_; }
    [[nodiscard]] bool delegateAttached() const;

  private:
    CallLog& log_;
    mutable std::mutex mutex_;
    std::function<void(bool)> pendingAnswer_;
    std::function<void(monitor::CameraInterruption)> interruption_;
    std::weak_ptr<monitor::SampleBufferDelegate> delegate_;
    std::shared_ptr<runtime::TaskQueue> queue_;
    std::atomic<bool> running_{false};
    std::atomic<int> inputs_{0};
    std::atomic<int> outputs_{0};
    std::atomic<int> starts_{0};
};

// Answers each frame from a script of face lists; frames past the script see an empty room.
class ScriptedDetector final : public monitor::FaceDetector {
  public:
    struct FrameScript {
        std::optional<std::vector<monitor::FaceObservation>> rectangles;  // none: detection fails
        // What the landmark pass returns when it runs; unset: the same faces.
        std::optional<std::optional<std::vector<monitor::FaceObservation>>> landmarks;
    };

    bool available = true;
    [[nodiscard]] bool isAvailable() const override { return available; }
    std::unique_ptr<monitor::FaceRequestHandler> makeHandler(imaging::PixelBufferPtr frame,
                                                             imaging::Orientation orientation) override;

    void push(FrameScript script);
    void push(std::vector<monitor::FaceObservation> faces) { push(FrameScript{std::move(faces), std::nullopt}); }
    // Used for every frame when the script is empty.
    void setSteady(std::vector<monitor::FaceObservation> faces);

    [[nodiscard]] int landmarkPasses() const { return landmarkPasses_; }
    [[nodiscard]] int handlers() const { return handlers_; }
    [[nodiscard]] imaging::Orientation lastOrientation() const { return lastOrientation_; }
    [[nodiscard]] std::vector<int> landmarkFrames() const;

  private:
    friend class ScriptedHandler;
    mutable std::mutex mutex_;
    std::deque<FrameScript> script_;
    std::vector<monitor::FaceObservation> steady_;
    std::atomic<int> landmarkPasses_{0};
    std::atomic<int> handlers_{0};
    std::vector<int> landmarkFrames_;
    std::atomic<imaging::Orientation> lastOrientation_{imaging::Orientation::up};
};

// A window that records what it was asked to do.
class RecordingPresenter : public monitor::PiPPresenter {
  public:
    RecordingPresenter(CallLog& log, std::string name) : log_(log), name_(std::move(name)) {}

    void show() override;
    void hide() override;
    void update(const imaging::PixelBufferPtr& pixelBuffer, const imaging::Rect& normalizedBox,
                imaging::Orientation orientation, double paddingFraction, double centerZoom,
                imaging::Renderer& ciContext) override;
    void setOnClose(std::function<void()> onClose) override { onClose_ = std::move(onClose); }

    // What the user's close button would do.
    void pressClose() {
        if (onClose_) {
            onClose_();
        }
    }

    struct Update {
        imaging::Rect box;
        imaging::Orientation orientation;
        double padding;
        double zoom;
    };
    [[nodiscard]] bool visible() const { return visible_; }
    [[nodiscard]] std::vector<Update> updates() const;
    [[nodiscard]] int shows() const { return shows_; }
    [[nodiscard]] int hides() const { return hides_; }

  private:
    CallLog& log_;
    std::string name_;
    std::function<void()> onClose_;
    mutable std::mutex mutex_;
    std::vector<Update> updates_;
    std::atomic<bool> visible_{false};
    std::atomic<int> shows_{0};
    std::atomic<int> hides_{0};
};

// Locks on the main queue and answers with the configured outcome.
class FakeScreenLocker final : public monitor::ScreenLocker {
  public:
    FakeScreenLocker(CallLog& log, runtime::TaskQueue& main) : log_(log), main_(main) {}
    std::atomic<bool> succeed{true};
    std::string failureMessage = "lock failed";
    void lockNow(Completion completion) override;
    [[nodiscard]] int locks() const { return locks_; }

  private:
    CallLog& log_;
    runtime::TaskQueue& main_;
    std::atomic<int> locks_{0};
};

// The desktop's lock state, changed by the test on the main queue.
struct FakeLockWatcher final : monitor::SessionLockWatcher {
    std::function<void(bool)> onChange;
    [[nodiscard]] bool isAvailable() const override { return true; }
    void setOnChange(std::function<void(bool)> callback) override { onChange = std::move(callback); }
};

class MemorySettings final : public monitor::SettingsStore {
  public:
    // When false, changes still take effect in memory but report that they were not saved.
    std::atomic<bool> writable{true};
    [[nodiscard]] std::optional<std::string> string(const std::string& key) const override;
    bool setString(const std::string& key, const std::string& value) override;
    bool remove(const std::string& key) override;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> values_;
};

class FakeFileSystem final : public monitor::FileSystem {
  public:
    [[nodiscard]] bool fileExists(const std::string& path) const override;
    void add(const std::string& path);
    void erase(const std::string& path);

  private:
    mutable std::mutex mutex_;
    std::set<std::string> files_;
};

class FakeResources final : public monitor::Resources {
  public:
    std::optional<std::string> defaultTrigger = "/opt/tovak/share/tovak/DefaultTrigger.csv";
    [[nodiscard]] std::optional<std::string> pathForResource(const std::string& name,
                                                             const std::string& extension) const override;
};

class FakeWorkspace final : public monitor::Workspace {
  public:
    explicit FakeWorkspace(CallLog& log) : log_(log) {}
    std::atomic<bool> accept{true};
    bool open(const std::string& path) override;

  private:
    CallLog& log_;
};

class FakeDocumentCloser final : public monitor::DocumentCloser {
  public:
    explicit FakeDocumentCloser(CallLog& log) : log_(log) {}
    void closeDocument(const std::string& standardizedPath) override { log_.add("close:" + standardizedPath); }

  private:
    CallLog& log_;
};

class FakeFileChooser final : public monitor::FileChooser {
  public:
    void chooseTriggerFile(std::function<void(std::optional<std::string>)> completion) override {
        pending = std::move(completion);
    }
    std::function<void(std::optional<std::string>)> pending;
};

// Box of a square face of the given normalised area, left edge at x.
monitor::FaceObservation face(double area, double x = 0.1);
// Faces of the given areas, in detector order, side by side.
std::vector<monitor::FaceObservation> faces(std::initializer_list<double> areas);

}  // namespace tovak::testing

#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "monitor/PrivacyMonitor.h"
#include "monitor/ports/CameraContention.h"
#include "monitor/ports/CameraSession.h"
#include "monitor/ports/EngineObserver.h"
#include "monitor/ports/FaceDetector.h"
#include "monitor/ports/FacePresenter.h"
#include "monitor/ports/Services.h"
#include "runtime/Simulation.h"

namespace tovak::testing {

// Everything the doubles were asked to do, in order, from any thread.
class CallLog {
  public:
    void add(std::string entry) {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    [[nodiscard]] std::vector<std::string> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }
    [[nodiscard]] std::size_t count(const std::string& entry) const {
        const auto all = entries();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), entry));
    }
    void clear() {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

struct FakeConnection final : monitor::CaptureConnection {
    double angle = 0;
    bool mirrored = false;
    mutable std::atomic<int> angleReads{0};
    [[nodiscard]] double videoRotationAngle() const override { return ++angleReads, angle; }
    [[nodiscard]] bool isVideoMirrored() const override { return mirrored; }
};

// A camera that logs its configuration and hands frames to the delegate's queue.
class FakeCamera final : public monitor::CameraSession {
  public:
    explicit FakeCamera(CallLog& log) : log_(log) {}
    monitor::CameraAuthorization authorization = monitor::CameraAuthorization::authorized;
    std::optional<monitor::CameraDevice> device = monitor::CameraDevice{"video0", "Test Camera"};
    bool inputAccepted = true;
    bool outputAccepted = true;
    // A refused input was refused because another program holds the camera.
    bool inputBusy = false;
    std::atomic<int> inputs{0}, outputs{0}, starts{0};

    monitor::CameraAuthorization authorizationStatus() override { return authorization; }
    void requestAccess(std::function<void(bool)> answer) override {
        std::lock_guard lock(mutex_);
        log_.add("camera.prompt");
        pendingAnswer_ = std::move(answer);
    }
    void answerPermission(bool granted) {  // answers a pending prompt
        std::unique_lock lock(mutex_);
        auto answer = std::exchange(pendingAnswer_, nullptr);
        lock.unlock();
        if (answer) {
            answer(granted);
        }
    }
    void beginConfiguration() override { log_.add("camera.begin"); }
    void commitConfiguration() override { log_.add("camera.commit"); }
    void removeAllInputsAndOutputs() override { inputs = outputs = 0, log_.add("camera.removeAll"); }
    std::optional<monitor::CameraDevice> defaultVideoDevice() override { return device; }
    bool addInput(const monitor::CameraDevice&) override { return inputAccepted && ++inputs; }
    bool addVideoOutput() override { return outputAccepted && ++outputs; }
    void setSampleBufferDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate,
                                 std::shared_ptr<runtime::TaskQueue> queue) override {
        std::lock_guard lock(mutex_);
        delegate_ = std::move(delegate);
        queue_ = std::move(queue);
        log_.add(queue_ ? "camera.attach" : "camera.detach");
    }
    [[nodiscard]] bool isRunning() const override { return running_; }
    void startRunning() override { ++starts, running_ = true, log_.add("camera.start"); }
    void stopRunning() override { running_ = false, log_.add("camera.stop"); }

    // Set once, when the monitor is made, before any other thread runs.
    void setInterruptionHandler(std::function<void(monitor::CameraInterruption)> handler) override {
        interruption_ = std::move(handler);
    }
    [[nodiscard]] bool lastInputWasBusy() const override { return inputBusy; }
    // The running camera stops delivering, as an unplugged or stolen one does.
    void interrupt(monitor::CameraInterruption reason) { interruption_(reason); }

    // Queues a frame for the delegate, as a camera would; false when none is attached or not running.
    bool deliver(imaging::PixelBufferPtr frame, std::shared_ptr<const monitor::CaptureConnection> connection) {
        std::unique_lock lock(mutex_);
        const auto queue = queue_;
        lock.unlock();
        if (!queue || !running_) {
            return false;
        }
        queue->async([this, frame = std::move(frame), connection = std::move(connection)] {
            // A delegate detached after this frame was queued never sees it.
            std::unique_lock inner(mutex_);
            const auto delegate = queue_ ? delegate_.lock() : nullptr;
            inner.unlock();
            if (delegate) {
                delegate->captureOutput(frame, *connection);
            }
        });
        return true;
    }
    [[nodiscard]] bool delegateAttached() const {
        std::lock_guard lock(mutex_);
        return queue_ != nullptr && !delegate_.expired();
    }

  private:
    CallLog& log_;
    mutable std::mutex mutex_;
    std::function<void(bool)> pendingAnswer_;
    std::function<void(monitor::CameraInterruption)> interruption_;
    std::weak_ptr<monitor::SampleBufferDelegate> delegate_;
    std::shared_ptr<runtime::TaskQueue> queue_;
    std::atomic<bool> running_{false};
};

// Answers each frame from a script of face lists; past the script, the steady list.
class ScriptedDetector final : public monitor::FaceDetector {
  public:
    using Faces = std::vector<monitor::FaceObservation>;
    struct FrameScript {
        std::optional<Faces> rectangles;                // none: detection fails
        std::optional<std::optional<Faces>> landmarks;  // what the landmark pass gives; unset: the same faces
    };
    bool available = true;
    std::atomic<int> handlers{0};
    std::atomic<imaging::Orientation> lastOrientation{imaging::Orientation::up};

    [[nodiscard]] bool isAvailable() const override { return available; }
    std::unique_ptr<monitor::FaceRequestHandler> makeHandler(imaging::PixelBufferPtr,
                                                             imaging::Orientation orientation) override {
        const int frame = ++handlers;
        lastOrientation = orientation;
        std::lock_guard lock(mutex_);
        FrameScript script{steady_, std::nullopt};
        if (!script_.empty()) {
            script = std::move(script_.front());
            script_.pop_front();
        }
        return std::make_unique<Handler>(std::move(script), [this, frame] {
            std::lock_guard inner(mutex_);
            landmarkFrames_.push_back(frame);
        });
    }
    void push(FrameScript script) {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(script));
    }
    void setSteady(Faces faces) {
        std::lock_guard lock(mutex_);
        steady_ = std::move(faces);
    }
    // The frames (counted from 1) on which the landmark pass ran.
    [[nodiscard]] std::vector<int> landmarkFrames() const {
        std::lock_guard lock(mutex_);
        return landmarkFrames_;
    }

  private:
    class Handler final : public monitor::FaceRequestHandler {
      public:
        Handler(FrameScript script, std::function<void()> onLandmarks)
            : script_(std::move(script)), onLandmarks_(std::move(onLandmarks)) {}
        std::optional<Faces> performFaceRectangles() override { return script_.rectangles; }
        std::optional<Faces> performLandmarks(const Faces& faces) override {
            onLandmarks_();
            return script_.landmarks ? *script_.landmarks : faces;
        }

      private:
        FrameScript script_;
        std::function<void()> onLandmarks_;
    };
    mutable std::mutex mutex_;
    std::deque<FrameScript> script_;
    Faces steady_;
    std::vector<int> landmarkFrames_;
};

// A panel or close-up window that records what it was asked to do.
class RecordingPresenter final : public monitor::PiPPresenter {
  public:
    RecordingPresenter(CallLog& log, std::string name) : log_(log), name_(std::move(name)) {}
    struct Update {
        imaging::Rect box;
        double padding;
        double zoom;
    };
    std::atomic<bool> visible{false};
    std::atomic<int> shows{0}, hides{0};

    void show() override { ++shows, visible = true, log_.add(name_ + ".show"); }
    void hide() override { ++hides, visible = false, log_.add(name_ + ".hide"); }
    void update(const imaging::PixelBufferPtr&, const imaging::Rect& box, imaging::Orientation, double padding,
                double zoom, imaging::Renderer&) override {
        std::lock_guard lock(mutex_);
        updates_.push_back({box, padding, zoom});
        log_.add(name_ + ".update");
    }
    void setOnClose(std::function<void()> onClose) override { onClose_ = std::move(onClose); }
    void pressClose() { onClose_(); }  // the user's close button
    [[nodiscard]] std::vector<Update> updates() const {
        std::lock_guard lock(mutex_);
        return updates_;
    }

  private:
    CallLog& log_;
    std::string name_;
    std::function<void()> onClose_;
    mutable std::mutex mutex_;
    std::vector<Update> updates_;
};

inline const std::string kDefaultTrigger = "/opt/tovak/share/tovak/DefaultTrigger.csv";

// The platform services around the monitor in one recording double: settings in memory, a file
// system of named files, the default document, the workspace ("open:"), the closer ("close:"),
// the file chooser and a locker that answers on the main queue ("lock").
class FakeServices final : public monitor::SettingsStore,
                           public monitor::FileSystem,
                           public monitor::Resources,
                           public monitor::Workspace,
                           public monitor::DocumentCloser,
                           public monitor::FileChooser,
                           public monitor::ScreenLocker {
  public:
    FakeServices(CallLog& log, runtime::TaskQueue& main) : log_(log), main_(main) {}
    std::atomic<bool> writable{true};  // false: changes take effect but report they were not saved
    std::atomic<bool> openAccepted{true};
    std::atomic<bool> lockSucceeds{true};
    std::string lockFailure = "lock failed";
    std::optional<std::string> defaultTrigger = kDefaultTrigger;
    std::function<void(std::optional<std::string>)> pendingChoice;
    std::atomic<int> locks{0};

    std::optional<std::string> string(const std::string& key) const override {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        return it == values_.end() ? std::nullopt : std::optional(it->second);
    }
    bool setString(const std::string& key, const std::string& value) override {
        std::lock_guard lock(mutex_);
        values_[key] = value;
        return writable;
    }
    bool remove(const std::string& key) override {
        std::lock_guard lock(mutex_);
        values_.erase(key);
        return writable;
    }
    bool fileExists(const std::string& path) const override {
        std::lock_guard lock(mutex_);
        return files_.count(path) > 0;
    }
    void addFile(const std::string& path) {
        std::lock_guard lock(mutex_);
        files_.insert(path);
    }
    void eraseFile(const std::string& path) {
        std::lock_guard lock(mutex_);
        files_.erase(path);
    }
    std::optional<std::string> pathForResource(const std::string& name, const std::string& ext) const override {
        return name == "DefaultTrigger" && ext == "csv" ? defaultTrigger : std::nullopt;
    }
    bool open(const std::string& path) override { return log_.add("open:" + path), openAccepted.load(); }
    void closeDocument(const std::string& path) override { log_.add("close:" + path); }
    void chooseTriggerFile(std::function<void(std::optional<std::string>)> completion) override {
        pendingChoice = std::move(completion);
    }
    void lockNow(Completion completion) override {
        main_.async([this, completion = std::move(completion)] {
            ++locks;
            log_.add("lock");
            completion(lockSucceeds, lockSucceeds ? std::nullopt : std::optional(lockFailure));
        });
    }

  private:
    CallLog& log_;
    runtime::TaskQueue& main_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> values_;
    std::set<std::string> files_;
};

// What the engine reported: frames analysed, onlookers confirmed and gone.
struct RecordingObserver final : monitor::EngineObserver {
    std::atomic<int> frames{0}, confirmed{0}, ended{0}, leaveLocks{0};
    void frameAnalysed(std::size_t) override { ++frames; }
    void presenceConfirmed() override { ++confirmed; }
    void presenceEnded() override { ++ended; }
    void leaveLock(monitor::LeaveLock step, double) override { leaveLocks += step == monitor::LeaveLock::requested; }
};

// Another program and the camera, as the test says: what the monitor asked and the watch it holds.
struct FakeContention final : monitor::CameraContention {
    OnEvent onEvent;
    std::string watched;
    int watches = 0, holdOffs = 0;
    bool watchable = true;
    bool watch(const monitor::CameraDevice& device, OnEvent callback) override {
        ++watches, watched = device.id, onEvent = std::move(callback);
        return watchable;
    }
    void stopWatching() override { onEvent = nullptr, watched.clear(); }
    void holdOff() override { ++holdOffs; }
    void tell(Event event, const std::string& program = "") {
        if (onEvent) {
            onEvent(event, program);
        }
    }
};

// The desktop's lock state, changed by the test on the main queue.
struct FakeLockWatcher final : monitor::SessionLockWatcher {
    std::function<void(bool)> onChange;
    [[nodiscard]] bool isAvailable() const override { return true; }
    void setOnChange(std::function<void(bool)> callback) override { onChange = std::move(callback); }
};

// A face the detector found in this box.
inline monitor::FaceObservation faceAt(imaging::Rect box) {
    return {box, 0.9f, {}};
}
// Box of a square face of the given normalised area, left edge at x.
inline monitor::FaceObservation face(double area, double x = 0.1) {
    return faceAt({x, 0.3, std::sqrt(area), std::sqrt(area)});
}
// Faces of the given areas, in detector order, side by side.
inline std::vector<monitor::FaceObservation> faces(std::initializer_list<double> areas) {
    std::vector<monitor::FaceObservation> list;
    for (double area : areas) {
        list.push_back(face(area, 0.02 + 0.3 * static_cast<double>(list.size())));
    }
    return list;
}

}  // namespace tovak::testing

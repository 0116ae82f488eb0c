#include "support/Fakes.h"

#include <algorithm>
#include <cmath>

namespace tovak::testing {

void CallLog::add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
}

std::vector<std::string> CallLog::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::size_t CallLog::count(const std::string& entry) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count(entries_.begin(), entries_.end(), entry));
}

void CallLog::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

// ---- camera ----

void FakeCamera::requestAccess(std::function<void(bool)> answer) {
    std::lock_guard lock(mutex_);
    log_.add("camera.prompt");
    pendingAnswer_ = std::move(answer);
}

void FakeCamera::answerPermission(bool granted) {
    std::function<void(bool)> answer;
    {
        std::lock_guard lock(mutex_);
        answer = std::move(pendingAnswer_);
        pendingAnswer_ = nullptr;
    }
    if (answer) {
        answer(granted);
    }
}

bool FakeCamera::permissionPending() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(pendingAnswer_);
}

void FakeCamera::removeAllInputsAndOutputs() {
    inputs_ = 0;
    outputs_ = 0;
    log_.add("camera.removeAll");
}

bool FakeCamera::addInput(const monitor::CameraDevice&) {
    if (!inputAccepted) {
        return false;
    }
    ++inputs_;
    return true;
}

bool FakeCamera::addVideoOutput() {
    if (!outputAccepted) {
        return false;
    }
    ++outputs_;
    return true;
}

void FakeCamera::setSampleBufferDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate,
                                         std::shared_ptr<runtime::TaskQueue> queue) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
    queue_ = std::move(queue);
    log_.add(queue_ ? "camera.attach" : "camera.detach");
}

bool FakeCamera::delegateAttached() const {
    std::lock_guard lock(mutex_);
    return queue_ != nullptr && !delegate_.expired();
}

void FakeCamera::startRunning() {
    ++starts_;
    running_ = true;
    log_.add("camera.start");
}

void FakeCamera::stopRunning() {
    running_ = false;
    log_.add("camera.stop");
}

bool FakeCamera::deliver(imaging::PixelBufferPtr frame, std::shared_ptr<const monitor::CaptureConnection> connection) {
    std::shared_ptr<runtime::TaskQueue> queue;
    {
        std::lock_guard lock(mutex_);
        queue = queue_;
    }
    if (!queue || !running_) {
        return false;
    }
    queue->async([this, frame = std::move(frame), connection = std::move(connection)] {
        // A delegate detached after this frame was queued never sees it.
        std::shared_ptr<monitor::SampleBufferDelegate> delegate;
        {
            std::lock_guard lock(mutex_);
            delegate = queue_ ? delegate_.lock() : nullptr;
        }
        if (delegate) {
            delegate->captureOutput(frame, *connection);
        }
    });
    return true;
}

// ---- detector ----

class ScriptedHandler final : public monitor::FaceRequestHandler {
  public:
    ScriptedHandler(ScriptedDetector& owner, ScriptedDetector::FrameScript script, int frame)
        : owner_(owner), script_(std::move(script)), frame_(frame) {}

    std::optional<std::vector<monitor::FaceObservation>> performFaceRectangles() override { return script_.rectangles; }

    std::optional<std::vector<monitor::FaceObservation>> performLandmarks(
        const std::vector<monitor::FaceObservation>& faces) override {
        ++owner_.landmarkPasses_;
        {
            std::lock_guard lock(owner_.mutex_);
            owner_.landmarkFrames_.push_back(frame_);
        }
        if (script_.landmarks) {
            return *script_.landmarks;
        }
        return faces;
    }

  private:
    ScriptedDetector& owner_;
    ScriptedDetector::FrameScript script_;
    int frame_;
};

std::unique_ptr<monitor::FaceRequestHandler> ScriptedDetector::makeHandler(imaging::PixelBufferPtr,
                                                                           imaging::Orientation orientation) {
    const int frame = ++handlers_;
    lastOrientation_ = orientation;
    FrameScript script;
    {
        std::lock_guard lock(mutex_);
        if (script_.empty()) {
            script.rectangles = steady_;
        } else {
            script = std::move(script_.front());
            script_.pop_front();
        }
    }
    return std::make_unique<ScriptedHandler>(*this, std::move(script), frame);
}

void ScriptedDetector::push(FrameScript script) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(script));
}

void ScriptedDetector::setSteady(std::vector<monitor::FaceObservation> faces) {
    std::lock_guard lock(mutex_);
    steady_ = std::move(faces);
}

std::vector<int> ScriptedDetector::landmarkFrames() const {
    std::lock_guard lock(mutex_);
    return landmarkFrames_;
}

// ---- presenters ----

void RecordingPresenter::show() {
    ++shows_;
    visible_ = true;
    log_.add(name_ + ".show");
}

void RecordingPresenter::hide() {
    ++hides_;
    visible_ = false;
    log_.add(name_ + ".hide");
}

void RecordingPresenter::update(const imaging::PixelBufferPtr&, const imaging::Rect& normalizedBox,
                                imaging::Orientation orientation, double paddingFraction, double centerZoom,
                                imaging::Renderer&) {
    {
        std::lock_guard lock(mutex_);
        updates_.push_back(Update{normalizedBox, orientation, paddingFraction, centerZoom});
    }
    log_.add(name_ + ".update");
}

std::vector<RecordingPresenter::Update> RecordingPresenter::updates() const {
    std::lock_guard lock(mutex_);
    return updates_;
}

// ---- system services ----

void FakeScreenLocker::lockNow(Completion completion) {
    main_.async([this, completion = std::move(completion)] {
        ++locks_;
        log_.add("lock");
        if (succeed) {
            completion(true, std::nullopt);
        } else {
            completion(false, failureMessage);
        }
    });
}

std::optional<std::string> MemorySettings::string(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool MemorySettings::setString(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    values_[key] = value;
    return writable.load();
}

bool MemorySettings::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    values_.erase(key);
    return writable.load();
}

bool FakeFileSystem::fileExists(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return files_.count(path) > 0;
}

void FakeFileSystem::add(const std::string& path) {
    std::lock_guard lock(mutex_);
    files_.insert(path);
}

void FakeFileSystem::erase(const std::string& path) {
    std::lock_guard lock(mutex_);
    files_.erase(path);
}

std::optional<std::string> FakeResources::pathForResource(const std::string& name, const std::string& extension) const {
    if (name == "DefaultTrigger" && extension == "csv") {
        return defaultTrigger;
    }
    return std::nullopt;
}

bool FakeWorkspace::open(const std::string& path) {
    log_.add("open:" + path);
    return accept;
}

monitor::FaceObservation face(double area, double x) {
    const double side = std::sqrt(area);
    monitor::FaceObservation observation;
    observation.boundingBox = imaging::Rect{x, 0.3, side, side};
    return observation;
}

std::vector<monitor::FaceObservation> faces(std::initializer_list<double> areas) {
    std::vector<monitor::FaceObservation> list;
    double x = 0.02;
    for (double area : areas) {
        list.push_back(face(area, x));
        x += 0.3;
    }
    return list;
}

}  // namespace tovak::testing

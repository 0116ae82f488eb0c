#include "support/Fakes.h"

#include <cmath>

namespace tovak::testing {

void FakeCamera::setSampleBufferDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate,
                                         std::shared_ptr<runtime::TaskQueue> queue) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
    queue_ = std::move(queue);
    log_.add(queue_ ? "camera.attach" : "camera.detach");
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

namespace {

class ScriptedHandler final : public monitor::FaceRequestHandler {
  public:
    ScriptedHandler(ScriptedDetector::FrameScript script, std::function<void()> onLandmarks)
        : script_(std::move(script)), onLandmarks_(std::move(onLandmarks)) {}
    std::optional<ScriptedDetector::Faces> performFaceRectangles() override { return script_.rectangles; }
    std::optional<ScriptedDetector::Faces> performLandmarks(const ScriptedDetector::Faces& faces) override {
        onLandmarks_();
        return script_.landmarks ? *script_.landmarks : faces;
    }

  private:
    ScriptedDetector::FrameScript script_;
    std::function<void()> onLandmarks_;
};

}  // namespace

std::unique_ptr<monitor::FaceRequestHandler> ScriptedDetector::makeHandler(imaging::PixelBufferPtr,
                                                                           imaging::Orientation orientation) {
    const int frame = ++handlers;
    lastOrientation = orientation;
    std::lock_guard lock(mutex_);
    FrameScript script{steady_, std::nullopt};
    if (!script_.empty()) {
        script = std::move(script_.front());
        script_.pop_front();
    }
    return std::make_unique<ScriptedHandler>(std::move(script), [this, frame] {
        std::lock_guard inner(mutex_);
        landmarkFrames_.push_back(frame);
    });
}

monitor::FaceObservation face(double area, double x) {
    monitor::FaceObservation observation;
    observation.boundingBox = imaging::Rect{x, 0.3, std::sqrt(area), std::sqrt(area)};
    return observation;
}

std::vector<monitor::FaceObservation> faces(std::initializer_list<double> areas) {
    std::vector<monitor::FaceObservation> list;
    for (double area : areas) {
        list.push_back(face(area, 0.02 + 0.3 * static_cast<double>(list.size())));
    }
    return list;
}

}  // namespace tovak::testing

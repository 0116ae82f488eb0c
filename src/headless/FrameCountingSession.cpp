#include "headless/FrameCountingSession.h"

#include <utility>

namespace tovak::headless {

class FrameCountingSession::CountingDelegate final : public monitor::SampleBufferDelegate {
  public:
    CountingDelegate(std::weak_ptr<monitor::SampleBufferDelegate> target, std::shared_ptr<Counter> counter,
                     EventLog& log)
        : target_(std::move(target)), counter_(std::move(counter)), log_(log) {}

    void captureOutput(imaging::PixelBufferPtr imageBuffer, const monitor::CaptureConnection& connection) override {
        auto target = target_.lock();
        if (!target) {
            return;
        }
        log_.frameDelivered(counter_->count++);
        target->captureOutput(std::move(imageBuffer), connection);
    }

  private:
    std::weak_ptr<monitor::SampleBufferDelegate> target_;
    std::shared_ptr<Counter> counter_;
    EventLog& log_;
};

FrameCountingSession::FrameCountingSession(std::shared_ptr<monitor::CameraSession> inner, EventLog& log)
    : inner_(std::move(inner)), log_(log) {}

void FrameCountingSession::setSampleBufferDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate,
                                                   std::shared_ptr<runtime::TaskQueue> queue) {
    // Called on the delivery queue, like every use of delegate_.
    if (delegate.expired() || !queue) {
        delegate_.reset();
        inner_->setSampleBufferDelegate({}, nullptr);
        return;
    }
    delegate_ = std::make_shared<CountingDelegate>(std::move(delegate), counter_, log_);
    inner_->setSampleBufferDelegate(delegate_, std::move(queue));
}

}  // namespace tovak::headless

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "headless/EventLog.h"
#include "monitor/ports/CameraSession.h"

namespace tovak::headless {

// A camera session that tells the event log of every frame it delivers, before the engine sees it.
class FrameCountingSession final : public monitor::CameraSession {
  public:
    FrameCountingSession(std::shared_ptr<monitor::CameraSession> inner, EventLog& log);

    [[nodiscard]] monitor::CameraAuthorization authorizationStatus() override { return inner_->authorizationStatus(); }
    void requestAccess(std::function<void(bool granted)> answer) override { inner_->requestAccess(std::move(answer)); }
    void beginConfiguration() override { inner_->beginConfiguration(); }
    void commitConfiguration() override { inner_->commitConfiguration(); }
    void removeAllInputsAndOutputs() override { inner_->removeAllInputsAndOutputs(); }
    [[nodiscard]] std::optional<monitor::CameraDevice> defaultVideoDevice() override {
        return inner_->defaultVideoDevice();
    }
    bool addInput(const monitor::CameraDevice& device) override { return inner_->addInput(device); }
    bool addVideoOutput() override { return inner_->addVideoOutput(); }
    void setSampleBufferDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate,
                                 std::shared_ptr<runtime::TaskQueue> queue) override;
    [[nodiscard]] bool isRunning() const override { return inner_->isRunning(); }
    void startRunning() override { inner_->startRunning(); }
    void stopRunning() override { inner_->stopRunning(); }
    void setInterruptionHandler(std::function<void(monitor::CameraInterruption)> handler) override {
        inner_->setInterruptionHandler(std::move(handler));
    }
    [[nodiscard]] bool lastInputWasBusy() const override { return inner_->lastInputWasBusy(); }
    [[nodiscard]] bool waitsForChosenDevice() const override { return inner_->waitsForChosenDevice(); }

    [[nodiscard]] std::int64_t framesDelivered() const { return counter_->count; }

  private:
    struct Counter {
        std::atomic<std::int64_t> count{0};
    };
    class CountingDelegate;

    std::shared_ptr<monitor::CameraSession> inner_;
    EventLog& log_;
    std::shared_ptr<Counter> counter_ = std::make_shared<Counter>();
    std::shared_ptr<CountingDelegate> delegate_;
};

}  // namespace tovak::headless

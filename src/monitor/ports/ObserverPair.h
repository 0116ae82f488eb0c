#pragma once

#include <memory>

#include "monitor/ports/EngineObserver.h"

namespace tovak::monitor {

// Two observers of the engine, told in turn: the one already in the ports and one more.
class ObserverPair final : public EngineObserver {
  public:
    ObserverPair(std::shared_ptr<EngineObserver> first, std::shared_ptr<EngineObserver> second)
        : first_(std::move(first)), second_(std::move(second)) {}
    void frameAnalysed(std::size_t faceCount) override {
        first_->frameAnalysed(faceCount);
        second_->frameAnalysed(faceCount);
    }
    void presenceConfirmed() override { first_->presenceConfirmed(), second_->presenceConfirmed(); }
    void presenceEnded() override { first_->presenceEnded(), second_->presenceEnded(); }
    void documentRaised() override { first_->documentRaised(), second_->documentRaised(); }
    void visitorConfirmed() override { first_->visitorConfirmed(), second_->visitorConfirmed(); }
    void visitorEnded() override { first_->visitorEnded(), second_->visitorEnded(); }
    void lockFinished(bool success, const std::optional<std::string>& message) override {
        first_->lockFinished(success, message);
        second_->lockFinished(success, message);
    }
    void cameraPaused(CameraPause reason) override {
        first_->cameraPaused(reason);
        second_->cameraPaused(reason);
    }
    void cameraResumed() override { first_->cameraResumed(), second_->cameraResumed(); }
    void leaveLock(LeaveLock step, double delaySeconds) override {
        first_->leaveLock(step, delaySeconds);
        second_->leaveLock(step, delaySeconds);
    }

  private:
    std::shared_ptr<EngineObserver> first_;
    std::shared_ptr<EngineObserver> second_;
};

}  // namespace tovak::monitor

#include "audit/AuditRecorder.h"

#include "monitor/ports/ObserverPair.h"

namespace tovak::audit {

namespace {

// Records each lock asked of the lock chain, then its outcome.
class AuditedLocker final : public monitor::ScreenLocker {
  public:
    AuditedLocker(std::shared_ptr<monitor::ScreenLocker> locker, std::shared_ptr<AuditTrail> trail)
        : locker_(std::move(locker)), trail_(std::move(trail)) {}
    void lockNow(Completion completion) override {
        trail_->record(AuditKind::lockRequested);
        // Weak: a lock chain's worker holding the last reference to its own locker would join itself.
        locker_->lockNow([trail = trail_, weak = std::weak_ptr(locker_), completion = std::move(completion)](
                             bool success, std::optional<std::string> message) {
            const auto locker = weak.lock();
            const std::string name = locker ? locker->lastLocker() : std::string();
            if (success) {
                trail->record(AuditKind::lockConfirmed, {{"TOVAK_LOCKER", name}});
            } else {
                trail->record(AuditKind::lockFailed, {{"TOVAK_LOCKER", name}, {"TOVAK_REASON", message.value_or("")}});
            }
            completion(success, std::move(message));
        });
    }
    [[nodiscard]] std::string lastLocker() const override { return locker_->lastLocker(); }

  private:
    std::shared_ptr<monitor::ScreenLocker> locker_;
    std::shared_ptr<AuditTrail> trail_;
};

const char* pausedBy(monitor::CameraPause reason) {
    switch (reason) {
        case monitor::CameraPause::user:
            return "user";
        case monitor::CameraPause::screenLocked:
            return "lock";
        case monitor::CameraPause::otherProgram:
            return "program";
        case monitor::CameraPause::cameraLost:
            break;
    }
    return "camera-lost";
}

}  // namespace

std::shared_ptr<AuditRecorder> AuditRecorder::create(std::shared_ptr<AuditTrail> trail) {
    trail->record(AuditKind::started);
    return std::shared_ptr<AuditRecorder>(new AuditRecorder(std::move(trail)));
}

AuditRecorder::~AuditRecorder() {
    trail_->record(AuditKind::ended);
}

void AuditRecorder::wire(monitor::Ports& ports) {
    const std::shared_ptr<AuditRecorder> self = shared_from_this();
    ports.observer = ports.observer ? std::make_shared<monitor::ObserverPair>(ports.observer, self)
                                    : std::shared_ptr<monitor::EngineObserver>(self);
    if (ports.screenLock) {
        ports.screenLock = std::make_shared<AuditedLocker>(std::move(ports.screenLock), trail_);
    }
}

void AuditRecorder::watch(monitor::PrivacyMonitor& monitor) {
    monitor.isRunning.observe([trail = trail_, was = monitor.isRunning.get()](const bool& running) mutable {
        if (running != was) {
            was = running;
            trail->record(running ? AuditKind::watchingStarted : AuditKind::watchingStopped);
        }
    });
}

void AuditRecorder::presenceConfirmed() {
    raises_ = 0;
    trail_->record(AuditKind::onlookerStarted);
}

void AuditRecorder::documentRaised() {
    ++raises_;
}

void AuditRecorder::presenceEnded() {
    trail_->record(AuditKind::onlookerEnded, {{"TOVAK_RAISES", std::to_string(raises_)}});
}

void AuditRecorder::visitorConfirmed() {
    trail_->record(AuditKind::awayVisit);
}

void AuditRecorder::cameraPaused(monitor::CameraPause reason) {
    trail_->record(AuditKind::watchingPaused, {{"TOVAK_PAUSED_BY", pausedBy(reason)}});
}

void AuditRecorder::cameraResumed() {
    trail_->record(AuditKind::watchingResumed);
}

}  // namespace tovak::audit

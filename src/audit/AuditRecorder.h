#pragma once

#include <memory>

#include "audit/AuditTrail.h"
#include "monitor/PrivacyMonitor.h"
#include "monitor/ports/EngineObserver.h"
#include "monitor/ports/Ports.h"

namespace tovak::audit {

// Turns what the engine decides into audit records: watching started and stopped, the camera paused
// and back, an onlooker's episode with how often the document was raised, a visit while away, and
// each lock asked of the lock chain with its outcome. Only counts and reasons: no picture, no box,
// nothing about a face.
class AuditRecorder final : public monitor::EngineObserver, public std::enable_shared_from_this<AuditRecorder> {
  public:
    // Records Tovak's start now and its end when the last holder lets go.
    static std::shared_ptr<AuditRecorder> create(std::shared_ptr<AuditTrail> trail);
    ~AuditRecorder() override;
    AuditRecorder(const AuditRecorder&) = delete;
    AuditRecorder& operator=(const AuditRecorder&) = delete;

    // Before the monitor is made: hears the engine (beside any observer there) and every lock asked.
    void wire(monitor::Ports& ports);
    // After: follows watching on and off. Main thread.
    void watch(monitor::PrivacyMonitor& monitor);

    // monitor::EngineObserver, on the session queue.
    void frameAnalysed(std::size_t) override {}
    void presenceConfirmed() override;
    void presenceEnded() override;
    void documentRaised() override;
    void visitorConfirmed() override;
    void cameraPaused(monitor::CameraPause reason) override;
    void cameraResumed() override;

  private:
    explicit AuditRecorder(std::shared_ptr<AuditTrail> trail) : trail_(std::move(trail)) {}

    std::shared_ptr<AuditTrail> trail_;
    // The current episode's raises; session queue.
    int raises_ = 0;
};

}  // namespace tovak::audit

#pragma once

#include <functional>
#include <memory>
#include <string>

#include "headless/EventLog.h"
#include "monitor/ports/EngineObserver.h"
#include "monitor/ports/FacePresenter.h"
#include "monitor/ports/Services.h"
#include "runtime/TaskQueue.h"

namespace tovak::headless {

// The platform services of a run without a screen: each reports what the engine asked of it to
// the event log and opens no window and no document.

// The panel ("pip") or the close-up ("closeup"): show, update and hide become events.
class ReportingPresenter final : public monitor::PiPPresenter {
  public:
    ReportingPresenter(EventLog& log, std::string name) : log_(log), name_(std::move(name)) {}
    void show() override { log_.emit(name_ + ".show"); }
    void hide() override { log_.emit(name_ + ".hide"); }
    void update(const imaging::PixelBufferPtr&, const imaging::Rect&, imaging::Orientation, double, double,
                imaging::Renderer&) override {
        log_.emit(name_ + ".update");
    }
    // Nobody can press the close button of a panel that is not drawn.
    void setOnClose(std::function<void()>) override {}

  private:
    EventLog& log_;
    std::string name_;
};

// Bringing the trigger document forward is reported as "trigger.raise".
class ReportingWorkspace final : public monitor::Workspace {
  public:
    explicit ReportingWorkspace(EventLog& log) : log_(log) {}
    bool open(const std::string&) override {
        log_.emit("trigger.raise");
        return true;
    }

  private:
    EventLog& log_;
};

// Closing the trigger document is reported as "trigger.close".
class ReportingDocumentCloser final : public monitor::DocumentCloser {
  public:
    explicit ReportingDocumentCloser(EventLog& log) : log_(log) {}
    void closeDocument(const std::string&) override { log_.emit("trigger.close"); }

  private:
    EventLog& log_;
};

// Reports the request and the outcome of the locker it wraps.
class ReportingScreenLocker final : public monitor::ScreenLocker {
  public:
    ReportingScreenLocker(EventLog& log, std::shared_ptr<monitor::ScreenLocker> locker)
        : log_(log), locker_(std::move(locker)) {}
    void lockNow(Completion completion) override;
    [[nodiscard]] std::string lastLocker() const override { return locker_->lastLocker(); }

  private:
    EventLog& log_;
    std::shared_ptr<monitor::ScreenLocker> locker_;
};

// "--lock dry-run": the lock is reported as done without locking anything.
class DryRunScreenLocker final : public monitor::ScreenLocker {
  public:
    explicit DryRunScreenLocker(std::shared_ptr<runtime::TaskQueue> mainQueue) : main_(std::move(mainQueue)) {}
    void lockNow(Completion completion) override;
    [[nodiscard]] std::string lastLocker() const override { return "dry-run"; }

  private:
    std::shared_ptr<runtime::TaskQueue> main_;
};

// Counts the faces of each frame for the log and reports presences.
class ReportingObserver final : public monitor::EngineObserver {
  public:
    explicit ReportingObserver(EventLog& log) : log_(log) {}
    void frameAnalysed(std::size_t faceCount) override { log_.facesCounted(faceCount); }
    void presenceConfirmed() override { log_.emit("presence.confirmed"); }
    void presenceEnded() override { log_.emit("presence.ended"); }
    // "leave.armed" (with its delay), "leave.cancelled" and "leave.lock", just before "lock.request".
    void leaveLock(monitor::LeaveLock step, double delaySeconds) override;

  private:
    EventLog& log_;
};

}  // namespace tovak::headless

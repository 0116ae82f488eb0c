#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <string_view>

#include "runtime/TaskQueue.h"
#include "system/ScriptRunner.h"

namespace tovak::system {

// Sends each scripted application one harmless probe soon after the window first shows, so the
// platform asks for automation consent while the user is at the screen, not at the first lock or
// trigger. Once per process, silent whatever happens.
class AutomationWarmup {
  public:
    struct Probe {
        double delaySeconds;  // from the moment of scheduling, not from the previous probe
        std::string_view script;
    };
    static const std::array<Probe, 4> probes;

    // Main thread. The first call schedules the four probes on the main queue; later calls do nothing,
    // and so does every call where the runner cannot run scripts (no consent to ask for there).
    void scheduleAfterWindowShown(runtime::MainQueue& main, std::shared_ptr<ScriptRunner> runner);
    [[nodiscard]] bool didScheduleThisSession() const { return didScheduleThisSession_.load(); }

    // The one warm-up of this process.
    static AutomationWarmup& shared();

  private:
    std::atomic<bool> didScheduleThisSession_{false};
};

}  // namespace tovak::system

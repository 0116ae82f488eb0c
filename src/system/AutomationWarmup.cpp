#include "system/AutomationWarmup.h"

#include <string>

#include "runtime/WorkItem.h"

namespace tovak::system {

const std::array<AutomationWarmup::Probe, 4> AutomationWarmup::probes = {{
    {0.8, "tell application \"System Events\"\n    return (count of processes) as string\nend tell"},
    {2.1, "tell application \"TextEdit\"\n    name\nend tell"},
    {3.4, "tell application \"Numbers\"\n    name\nend tell"},
    {4.7, "tell application \"Microsoft Excel\"\n    name\nend tell"},
}};

void AutomationWarmup::scheduleAfterWindowShown(runtime::MainQueue& main, std::shared_ptr<ScriptRunner> runner) {
    if (!runner || !runner->isAvailable() || didScheduleThisSession_.exchange(true)) {
        return;
    }
    for (const Probe& probe : probes) {
        main.asyncAfter(probe.delaySeconds, runtime::WorkItem::make([runner, script = std::string(probe.script)] {
                            // The answer is of no use; the probe exists for its side effect.
                            static_cast<void>(runner->run(script));
                        }));
    }
}

AutomationWarmup& AutomationWarmup::shared() {
    static AutomationWarmup warmup;
    return warmup;
}

}  // namespace tovak::system

#pragma once

#include <string>
#include <vector>

#include "runtime/Simulation.h"
#include "system/ScriptRunner.h"

namespace tovak::testing {

// Records each script and when it ran, in virtual seconds from its making; answers succeeds.
struct RecordingRunner final : system::ScriptRunner {
    RecordingRunner(runtime::ManualClock& c, bool succeeds) : clock(c), start(c.now()), succeed(succeeds) {}
    bool run(const std::string& source) override {
        return scripts.push_back(source), times.push_back(clock.now() - start), succeed;
    }
    runtime::ManualClock& clock;
    double start;
    bool succeed;
    std::vector<std::string> scripts;
    std::vector<double> times;
};

}  // namespace tovak::testing

// The tool runner and the automation warm-up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "runtime/Simulation.h"
#include "support/TempDir.h"
#include "system/AutomationWarmup.h"
#include "system/Process.h"

namespace tovak::system {
namespace {

// Records each script and when it ran, in virtual seconds from its making; answers succeeds.
struct RecordingRunner final : ScriptRunner {
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

TEST(Tools, SuccessIsExitStatusZeroWithinTheDeadlineAndArgumentsArriveVerbatim) {
    testing::TempDir folder("tovak-tools");
    EXPECT_TRUE(runToolAndWait(folder.script("ok", "exit 0"), {}, 10.0));
    EXPECT_FALSE(runToolAndWait(folder.script("no", "exit 1"), {}, 10.0));
    EXPECT_FALSE(runToolAndWait(folder.script("killed", "kill -9 $$"), {}, 10.0));
    EXPECT_FALSE(runToolAndWait(folder.script("slow", "sleep 30"), {}, 0.2));
    EXPECT_FALSE(runToolAndWait(folder / "missing", {}, 10.0));
    const std::string tool =
        folder.script("check", "[ \"$#\" = 2 ] && [ \"$1\" = '-suspend' ] && [ \"$2\" = '$(x) \"; *' ]");
    EXPECT_TRUE(runToolAndWait(tool, {"-suspend", "$(x) \"; *"}, 10.0));
    EXPECT_FALSE(runToolAndWait(tool, {"-suspend"}, 10.0));
}

TEST(AutomationWarmup, FourProbesAtTheirOffsetsInTableOrderOncePerProcess) {
    runtime::Simulation sim;
    auto runner = std::make_shared<RecordingRunner>(sim.clock, false);
    AutomationWarmup warmup;
    warmup.scheduleAfterWindowShown(sim.main, runner);
    warmup.scheduleAfterWindowShown(sim.main, runner);  // a second call schedules nothing
    EXPECT_TRUE(runner->scripts.empty()) << "scheduling returns before any probe";
    EXPECT_EQ(sim.main.pendingDelayed(), 4u);
    sim.advance(10.0);
    warmup.scheduleAfterWindowShown(sim.main, runner);  // nor one after the probes failed
    EXPECT_EQ(sim.main.pendingDelayed(), 0u);
    EXPECT_TRUE(warmup.didScheduleThisSession());
    ASSERT_EQ(
        runner->scripts,
        (std::vector<std::string>{
            "tell application \"System Events\"\n    return (count of processes) as string\nend tell",
            "tell application \"TextEdit\"\n    name\nend tell", "tell application \"Numbers\"\n    name\nend tell",
            "tell application \"Microsoft Excel\"\n    name\nend tell"}));
    const double offsets[] = {0.8, 2.1, 3.4, 4.7};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(runner->times[i], offsets[i], 1e-9) << i;
    }
}

}  // namespace
}  // namespace tovak::system

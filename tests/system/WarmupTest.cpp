#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "runtime/Simulation.h"
#include "system/AutomationWarmup.h"

namespace tovak::system {
namespace {

// Records when each probe ran, in virtual seconds from the call; fails every script.
class TimedRunner final : public ScriptRunner {
  public:
    explicit TimedRunner(runtime::ManualClock& clock) : clock_(clock), start_(clock.now()) {}
    bool run(const std::string& source) override {
        probes.emplace_back(clock_.now() - start_, source);
        return false;
    }
    std::vector<std::pair<double, std::string>> probes;

  private:
    runtime::ManualClock& clock_;
    double start_;
};

TEST(AutomationWarmup, FourProbesAtTheirOffsetsInTableOrderOncePerProcess) {
    runtime::Simulation sim;
    auto runner = std::make_shared<TimedRunner>(sim.clock);
    AutomationWarmup warmup;
    warmup.scheduleAfterWindowShown(sim.main, runner);
    warmup.scheduleAfterWindowShown(sim.main, runner);  // a second call schedules nothing
    EXPECT_TRUE(runner->probes.empty()) << "scheduling returns before any probe";
    EXPECT_EQ(sim.main.pendingDelayed(), 4u);
    sim.advance(10.0);
    warmup.scheduleAfterWindowShown(sim.main, runner);  // nor one after the probes failed
    EXPECT_EQ(sim.main.pendingDelayed(), 0u);
    EXPECT_TRUE(warmup.didScheduleThisSession());
    ASSERT_EQ(runner->probes.size(), 4u);
    const std::vector<std::pair<double, std::string>> expected = {
        {0.8, "tell application \"System Events\"\n    return (count of processes) as string\nend tell"},
        {2.1, "tell application \"TextEdit\"\n    name\nend tell"},
        {3.4, "tell application \"Numbers\"\n    name\nend tell"},
        {4.7, "tell application \"Microsoft Excel\"\n    name\nend tell"},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(runner->probes[i].first, expected[i].first, 1e-9) << i;
        EXPECT_EQ(runner->probes[i].second, expected[i].second) << i;
    }
}

}  // namespace
}  // namespace tovak::system

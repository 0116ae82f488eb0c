// The macOS lock chain on a test library and test tools, the generic ScreenLock around a chain, the
// tool runner and the automation warm-up.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "runtime/Simulation.h"
#include "support/TempDir.h"
#include "system/AutomationWarmup.h"
#include "system/MacLockChain.h"
#include "system/Process.h"
#include "system/ScreenLock.h"

namespace tovak::system {
namespace {

namespace fs = std::filesystem;

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

struct Outcome {
    int calls = 0;
    bool success = false;
    std::optional<std::string> message;
};

const std::string kKeystroke =
    "tell application \"System Events\" to keystroke \"q\" using {command down, control down}";

TEST(MacChain, LibrariesThenTheSessionToolThenTheKeystrokeEachOnlyWhenTheOneBeforeFailed) {
    enum Library { missing, locking, noSymbol };
    enum Tool { absent, exits0, exits1, notExecutable };
    const struct Row {
        const char* name;
        Library first, second;
        Tool tool;
        bool scriptSucceeds;
        int libraryCalls;
        const char* toolArguments;
        std::size_t scripts;
        bool locked;
    } rows[] = {
        {"first library locks alone", locking, missing, exits0, true, 1, "", 0, true},
        {"second library when the first is missing", missing, locking, absent, false, 1, "", 0, true},
        {"no symbol: the session tool", noSymbol, noSymbol, exits0, false, 0, "-suspend\n", 0, true},
        {"failing tool: the keystroke", missing, missing, exits1, true, 0, "-suspend\n", 1, true},
        {"tool not executable is passed over", missing, missing, notExecutable, true, 0, "", 1, true},
        {"everything refused", noSymbol, missing, exits1, false, 0, "-suspend\n", 1, false},
    };
    const auto library = [](Library which) -> std::string {
        return which == locking ? TOVAK_LOCK_LIBRARY : which == noSymbol ? TOVAK_NO_SYMBOL_LIBRARY : "/nonexistent";
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testing::TempDir folder("tovak-maclock");
        ::setenv("TOVAK_LOCK_CALLS", (folder / "lock-calls").c_str(), 1);
        MacLockPaths paths{.firstLibrary = library(row.first), .secondLibrary = library(row.second)};
        paths.sessionTool = folder / "CGSession";
        if (row.tool != absent) {
            folder.script("CGSession",
                          "echo \"$@\" >> '" + (folder / "tool-args") + "'\nexit " + (row.tool == exits1 ? "1" : "0"));
        }
        if (row.tool == notExecutable) {
            fs::permissions(paths.sessionTool, fs::perms::owner_read | fs::perms::owner_write);
        }
        runtime::Simulation sim;
        auto runner = std::make_shared<RecordingRunner>(sim.clock, row.scriptSucceeds);
        Outcome outcome;
        ScreenLock(std::shared_ptr<runtime::MainQueue>(std::shared_ptr<void>{}, &sim.main), macLockChain(runner, paths))
            .lockNow([&outcome](bool success, std::optional<std::string> message) {
                outcome = {outcome.calls + 1, success, std::move(message)};
            });
        EXPECT_EQ(outcome.calls, 0) << "lockNow returns before it locks";
        sim.drain();
        EXPECT_EQ(outcome.calls, 1);
        EXPECT_EQ(outcome.success, row.locked);
        EXPECT_EQ(outcome.message, row.locked ? std::nullopt
                                              : std::optional<std::string>(
                                                    "Блокировка не сработала. В macOS 15+ нет CGSession; включите: "
                                                    "Конфиденциальность → Автоматизация → Товак → System Events."));
        const std::string calls = folder.read("lock-calls");
        EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), row.libraryCalls);
        EXPECT_EQ(folder.read("tool-args"), row.toolArguments);
        EXPECT_EQ(runner->scripts, std::vector<std::string>(row.scripts, kKeystroke));
        // Libraries are unloaded after use.
        EXPECT_EQ(dlopen(TOVAK_LOCK_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr);
        EXPECT_EQ(dlopen(TOVAK_NO_SYMBOL_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr);
    }
    ::unsetenv("TOVAK_LOCK_CALLS");
}

// A method that throws counts as not locked, and the chain goes on to the next.
TEST(ScreenLockChain, WorkerRunsTheChainAndTheMainQueueHearsTheAnswerEvenWhenTheLockerIsGoneFirst) {
    runtime::Simulation sim;
    bool ranOnWorker = false;
    int calls = 0;
    bool answeredOnMain = false;
    {
        ScreenLock screenLock(std::shared_ptr<runtime::MainQueue>(std::shared_ptr<void>{}, &sim.main),
                              LockChain{{{"throws", []() -> bool { throw std::runtime_error("bus gone"); }},
                                         {"worker", [&] { return ranOnWorker = sim.background.isCurrent(); }}},
                                        "нет"},
                              std::shared_ptr<runtime::TaskQueue>(std::shared_ptr<void>{}, &sim.background));
        screenLock.lockNow([&](bool success, std::optional<std::string> message) {
            ++calls;
            answeredOnMain = sim.main.isCurrent();
            EXPECT_TRUE(success);
            EXPECT_FALSE(message);
        });
    }
    EXPECT_TRUE(sim.background.runOne());
    EXPECT_EQ(calls, 0) << "the completion waits for the main queue";
    sim.drain();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(ranOnWorker);
    EXPECT_TRUE(answeredOnMain);
}

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

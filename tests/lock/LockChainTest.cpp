// The macOS lock chain on a test library and test tools, and the generic ScreenLock around a chain.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "lock/MacLockChain.h"
#include "lock/ScreenLock.h"
#include "lock/SessionLockState.h"
#include "runtime/Simulation.h"
#include "support/RecordingRunner.h"
#include "support/TempDir.h"

namespace tovak::lock {
namespace {

namespace fs = std::filesystem;

using testing::RecordingRunner;

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

TEST(ScreenLockChain, LockersThatNeverConfirmedAreNamedElseTheChainsOwnMessage) {
    struct Row {
        const char* name;
        LockAttempt first, second;
        bool success;
        std::optional<std::string> message;
        const char* locker;
    };
    const Row rows[] = {
        {"the second confirms", LockAttempt::unconfirmed, LockAttempt::locked, true, std::nullopt, "B"},
        {"none there", LockAttempt::unavailable, LockAttempt::unavailable, false, "не найдено", ""},
        {"asked, never confirmed", LockAttempt::unconfirmed, LockAttempt::unavailable, false, "не подтвердил: A", "A"},
        {"both asked", LockAttempt::unconfirmed, LockAttempt::unconfirmed, false, "не подтвердил: A B", "A, B"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        runtime::Simulation sim;
        LockChain chain{{{"A", [&] { return row.first; }}, {"B", [&] { return row.second; }}}, "не найдено"};
        chain.unconfirmedMessage = [](const std::vector<std::string>& names) {
            std::string text = "не подтвердил:";
            for (const std::string& name : names) {
                text += " " + name;
            }
            return text;
        };
        ScreenLock screenLock(std::shared_ptr<runtime::MainQueue>(std::shared_ptr<void>{}, &sim.main), chain);
        std::optional<std::pair<bool, std::optional<std::string>>> answer;
        screenLock.lockNow([&](bool success, std::optional<std::string> message) { answer.emplace(success, message); });
        sim.drain();
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->first, row.success);
        EXPECT_EQ(answer->second, row.message);
        EXPECT_EQ(screenLock.lastLocker(), row.locker) << "the audit trail's name for the locker";
    }
}

// A visitor who moves the mouse ends a screensaver that does not lock: only a lock that needs the
// password counts, and its end is the user's unlock (settings and delays: the watcher's tests).
TEST(SessionLockState, AScreensaverIsALockOnlyWithItsLockOnPastItsDelayOrWhenTovakLockedThroughIt) {
    const struct Row {
        const char* name;
        std::optional<LockerPolicy> policy;
        bool ours, locked;
    } rows[] = {
        {"its settings unknown: keep watching", std::nullopt, false, false},
        {"a negative delay", LockerPolicy{true, -1}, false, false},
        {"a delay that is no number", LockerPolicy{true, std::nan("")}, false, false},
        {"past its lock delay", LockerPolicy{true, 60}, false, true},
        {"locked by Tovak whatever its settings", LockerPolicy{}, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SessionLockState state;
        if (row.ours) {
            state.ownLockConfirmed("org.mate.ScreenSaver", 100);  // its signal may come after the answer
        }
        state.screenSaverChanged("org.mate.ScreenSaver", true, row.policy, 100);
        EXPECT_EQ(state.locked(3700), row.locked);
        state.screenSaverChanged("org.mate.ScreenSaver", false, std::nullopt, 4000);
        state.screenSaverChanged("org.mate.ScreenSaver", true, LockerPolicy{}, 5000);
        EXPECT_FALSE(state.locked(5000)) << "a lock ends with its screensaver";
        state.setLockedHint(true);
        EXPECT_TRUE(state.locked(5000)) << "logind's LockedHint is a lock";
    }
}

}  // namespace
}  // namespace tovak::lock

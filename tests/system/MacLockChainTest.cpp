// The macOS lock chain on a test library and test tools, and the generic ScreenLock around a chain.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/SerialQueue.h"
#include "runtime/Simulation.h"
#include "support/ThreadedMainQueue.h"
#include "system/MacLockChain.h"
#include "system/ScreenLock.h"

namespace tovak::system {
namespace {

namespace fs = std::filesystem;

class CountingRunner final : public ScriptRunner {
  public:
    explicit CountingRunner(bool succeed) : succeed_(succeed) {}
    bool run(const std::string& source) override { return scripts.push_back(source), succeed_; }
    std::vector<std::string> scripts;

  private:
    bool succeed_;
};

struct Outcome {
    int calls = 0;
    bool success = false;
    std::optional<std::string> message;
};

// Locks through chain on a simulated main queue; the answer must wait for that queue.
Outcome lock(LockChain chain) {
    runtime::Simulation sim;
    ScreenLock screenLock(std::shared_ptr<runtime::MainQueue>(std::shared_ptr<void>{}, &sim.main), std::move(chain));
    Outcome outcome;
    screenLock.lockNow([&outcome](bool success, std::optional<std::string> message) {
        outcome = {outcome.calls + 1, success, std::move(message)};
    });
    EXPECT_EQ(outcome.calls, 0) << "lockNow returns before it locks";
    sim.drain();
    return outcome;
}

std::string readAll(const fs::path& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

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
    const fs::path folder = fs::temp_directory_path() / ("tovak-maclock-" + std::to_string(::getpid()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        ::setenv("TOVAK_LOCK_CALLS", (folder / "lock-calls").c_str(), 1);
        const auto library = [&](Library which) -> std::string {
            return which == locking ? TOVAK_LOCK_LIBRARY : which == noSymbol ? TOVAK_NO_SYMBOL_LIBRARY : "/nonexistent";
        };
        MacLockPaths paths;
        paths.firstLibrary = library(row.first);
        paths.secondLibrary = library(row.second);
        paths.sessionTool = (folder / "CGSession").string();
        if (row.tool != absent) {
            std::ofstream(paths.sessionTool) << "#!/bin/sh\necho \"$@\" >> '" << (folder / "tool-args").string()
                                             << "'\nexit " << (row.tool == exits1 ? 1 : 0) << "\n";
            fs::permissions(paths.sessionTool, row.tool == notExecutable
                                                   ? fs::perms::owner_read | fs::perms::owner_write
                                                   : fs::perms::owner_all);
        }
        auto runner = std::make_shared<CountingRunner>(row.scriptSucceeds);
        const Outcome outcome = lock(macLockChain(runner, paths));
        EXPECT_EQ(outcome.calls, 1);
        EXPECT_EQ(outcome.success, row.locked);
        EXPECT_EQ(outcome.message.has_value(), !row.locked);
        const std::string calls = readAll(folder / "lock-calls");
        EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), row.libraryCalls);
        EXPECT_EQ(readAll(folder / "tool-args"), row.toolArguments);
        EXPECT_EQ(runner->scripts, std::vector<std::string>(row.scripts, kKeystroke));
        if (!row.locked) {
            EXPECT_EQ(outcome.message,
                      "Блокировка не сработала. В macOS 15+ нет CGSession; включите: "
                      "Конфиденциальность → Автоматизация → Товак → System Events.");
        }
        // Libraries are unloaded after use.
        EXPECT_EQ(dlopen(TOVAK_LOCK_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr);
        EXPECT_EQ(dlopen(TOVAK_NO_SYMBOL_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr);
    }
    ::unsetenv("TOVAK_LOCK_CALLS");
    fs::remove_all(folder);
}

TEST(ScreenLockChain, ThrowingMethodCountsAsNotLocked) {
    const Outcome outcome =
        lock(LockChain{{{"throws", []() -> bool { throw std::runtime_error("bus gone"); }}}, "нет"});
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.message, "нет");
}

TEST(ScreenLockChain, WorkerRunsTheChainAndTheMainQueueHearsTheAnswer) {
    runtime::Simulation sim;
    bool ranOnWorker = false;
    ScreenLock screenLock(std::shared_ptr<runtime::MainQueue>(std::shared_ptr<void>{}, &sim.main),
                          LockChain{{{"only", [&] { return ranOnWorker = sim.background.isCurrent(); }}}, "нет"},
                          std::shared_ptr<runtime::TaskQueue>(std::shared_ptr<void>{}, &sim.background));
    int calls = 0;
    bool answeredOnMain = false;
    screenLock.lockNow([&](bool success, std::optional<std::string> message) {
        ++calls;
        answeredOnMain = sim.main.isCurrent();
        EXPECT_TRUE(success);
        EXPECT_FALSE(message);
    });
    EXPECT_TRUE(sim.background.runOne());
    EXPECT_EQ(calls, 0) << "the completion waits for the main queue";
    sim.drain();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(ranOnWorker);
    EXPECT_TRUE(answeredOnMain);
}

TEST(ScreenLockChain, LockerGoneBeforeItsWorkerRanStillAnswersOnceOnMain) {
    auto main = std::make_shared<testing::ThreadedMainQueue>();
    std::atomic<int> calls{0};
    std::atomic<bool> onMain{false};
    {
        ScreenLock screenLock(main, LockChain{{{"never", [] { return false; }}}, "нет"},
                              std::make_shared<runtime::SerialQueue>("tovak.lock"));
        screenLock.lockNow([&](bool success, std::optional<std::string>) {
            EXPECT_FALSE(success);
            onMain = main->isCurrent();
            ++calls;
        });
    }
    main->flush();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMain);
}

}  // namespace
}  // namespace tovak::system

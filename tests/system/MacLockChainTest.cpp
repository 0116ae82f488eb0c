#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

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
    bool run(const std::string& source) override {
        scripts.push_back(source);
        return succeed_;
    }
    std::vector<std::string> scripts;

  private:
    bool succeed_;
};

struct Outcome {
    int calls = 0;
    bool success = false;
    std::optional<std::string> message;
};

class MacChain : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tovak-maclock-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        calls_ = folder_ / "lock-calls";
        ::setenv("TOVAK_LOCK_CALLS", calls_.string().c_str(), 1);
        paths_.firstLibrary = (folder_ / "missing-login").string();
        paths_.secondLibrary = (folder_ / "missing-login-2").string();
        paths_.sessionTool = (folder_ / "missing-CGSession").string();
    }
    void TearDown() override {
        ::unsetenv("TOVAK_LOCK_CALLS");
        fs::remove_all(folder_);
    }

    // A session tool that records its arguments and exits with this status.
    std::string tool(int status) {
        const fs::path path = folder_ / ("CGSession-" + std::to_string(status));
        std::ofstream(path) << "#!/bin/sh\necho \"$@\" >> '" << (folder_ / "tool-args").string() << "'\nexit " << status
                            << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }
    int libraryCalls() const {
        std::ifstream in(calls_);
        int lines = 0;
        for (std::string line; std::getline(in, line);) {
            ++lines;
        }
        return lines;
    }
    std::string toolArguments() const {
        std::ifstream in(folder_ / "tool-args");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    Outcome lock(const std::shared_ptr<CountingRunner>& runner) {
        runtime::Simulation sim;
        auto main = std::shared_ptr<runtime::MainQueue>(std::shared_ptr<void>{}, &sim.main);
        ScreenLock screenLock(main, macLockChain(runner, paths_));
        Outcome outcome;
        screenLock.lockNow([&outcome](bool success, std::optional<std::string> message) {
            ++outcome.calls;
            outcome.success = success;
            outcome.message = std::move(message);
        });
        EXPECT_EQ(outcome.calls, 0) << "lockNow returns before it locks";
        sim.drain();
        return outcome;
    }

    fs::path folder_, calls_;
    MacLockPaths paths_;
};

TEST_F(MacChain, FirstLibraryLocksAloneAndIsUnloaded) {
    paths_.firstLibrary = TOVAK_LOCK_LIBRARY;
    paths_.sessionTool = tool(0);
    auto runner = std::make_shared<CountingRunner>(true);
    Outcome outcome = lock(runner);
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.success);
    EXPECT_FALSE(outcome.message);
    EXPECT_EQ(libraryCalls(), 1);
    EXPECT_EQ(toolArguments(), "");
    EXPECT_TRUE(runner->scripts.empty());
    EXPECT_EQ(dlopen(TOVAK_LOCK_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr) << "the library stays loaded";
}

TEST_F(MacChain, SecondLibraryWhenTheFirstIsMissing) {
    paths_.secondLibrary = TOVAK_LOCK_LIBRARY;
    Outcome outcome = lock(std::make_shared<CountingRunner>(false));
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(libraryCalls(), 1);
}

TEST_F(MacChain, LibrariesWithoutTheSymbolFallToTheSessionTool) {
    paths_.firstLibrary = TOVAK_NO_SYMBOL_LIBRARY;
    paths_.secondLibrary = TOVAK_NO_SYMBOL_LIBRARY;
    paths_.sessionTool = tool(0);
    auto runner = std::make_shared<CountingRunner>(false);
    Outcome outcome = lock(runner);
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(toolArguments(), "-suspend\n");
    EXPECT_TRUE(runner->scripts.empty());
    EXPECT_EQ(dlopen(TOVAK_NO_SYMBOL_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST_F(MacChain, FailingSessionToolFallsToTheKeystrokeScript) {
    paths_.sessionTool = tool(1);
    auto runner = std::make_shared<CountingRunner>(true);
    Outcome outcome = lock(runner);
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(toolArguments(), "-suspend\n");
    EXPECT_EQ(runner->scripts,
              (std::vector<std::string>{
                  "tell application \"System Events\" to keystroke \"q\" using {command down, control down}"}));
}

TEST_F(MacChain, NonExecutableSessionToolIsPassedOver) {
    paths_.sessionTool = tool(0);
    fs::permissions(paths_.sessionTool, fs::perms::owner_read | fs::perms::owner_write);
    auto runner = std::make_shared<CountingRunner>(true);
    EXPECT_TRUE(lock(runner).success);
    EXPECT_EQ(toolArguments(), "");
    EXPECT_EQ(runner->scripts.size(), 1u);
}

TEST_F(MacChain, EverythingRefusedGivesTheMessageOnce) {
    paths_.firstLibrary = TOVAK_NO_SYMBOL_LIBRARY;
    paths_.sessionTool = tool(1);
    Outcome outcome = lock(std::make_shared<CountingRunner>(false));
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.message,
              "Блокировка не сработала. В macOS 15+ нет CGSession; включите: Конфиденциальность → "
              "Автоматизация → Товак → System Events.");
}

TEST(ScreenLockChain, ThrowingMethodCountsAsNotLocked) {
    runtime::Simulation sim;
    auto main = std::shared_ptr<runtime::MainQueue>(std::shared_ptr<void>{}, &sim.main);
    ScreenLock screenLock(main, LockChain{{{"throws", []() -> bool { throw std::runtime_error("bus gone"); }}}, "нет"});
    int calls = 0;
    std::optional<std::string> message;
    screenLock.lockNow([&](bool success, std::optional<std::string> text) {
        ++calls;
        EXPECT_FALSE(success);
        message = std::move(text);
    });
    sim.drain();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(message, "нет");
}

TEST(ScreenLockChain, WorkerRunsTheChainAndTheMainQueueHearsTheAnswer) {
    runtime::Simulation sim;
    auto main = std::shared_ptr<runtime::MainQueue>(std::shared_ptr<void>{}, &sim.main);
    auto worker = std::shared_ptr<runtime::TaskQueue>(std::shared_ptr<void>{}, &sim.background);
    bool ranOnWorker = false;
    ScreenLock screenLock(main,
                          LockChain{{{"only",
                                      [&] {
                                          ranOnWorker = sim.background.isCurrent();
                                          return true;
                                      }}},
                                    "нет"},
                          worker);
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

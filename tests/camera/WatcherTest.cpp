#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <thread>

#include "camera/CameraNodeWatcher.h"
#include "camera/OpenerBudget.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace tovak::testing {
namespace {

using namespace std::chrono_literals;
using camera::CameraNodeWatcher;
using camera::NodeEvent;
using Kind = NodeEvent::Kind;

// Generous: the machine is shared; nothing here is a speed requirement.
constexpr auto kPatience = 30s;
// How long "nothing happens" is watched for, several free delays.
constexpr auto kQuiet = 800ms;
constexpr double kFreeAfter = 0.15;

// Another process that opens, maps, unmaps and closes the node when told. Forked, it uses only
// async-signal-safe calls.
class StandIn {
  public:
    explicit StandIn(const std::string& path) {
        int commands[2], answers[2];
        if (::pipe(commands) != 0 || ::pipe(answers) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            int fd = -1;
            void* mapping = MAP_FAILED;
            char command = 0;
            while (::read(commands[0], &command, 1) == 1) {
                if (command == 'o') {
                    fd = ::open(path.c_str(), O_RDWR);
                } else if (command == 'm') {
                    mapping = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
                } else if (command == 'u') {
                    ::munmap(mapping, 4096);
                } else if (command == 'c') {
                    ::close(fd);
                } else if (command == 'p') {
                    ::close(::open(path.c_str(), O_RDONLY));
                }
                (void)!::write(answers[1], &command, 1);
            }
            ::_exit(0);
        }
        ::close(commands[0]);
        ::close(answers[1]);
        commands_ = commands[1];
        answers_ = answers[0];
    }
    // Killed: later children hold copies of this one's pipe, so it would never read an end.
    ~StandIn() {
        ::kill(pid_, SIGKILL);
        ::close(commands_);
        ::close(answers_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    // o: open, m: map, u: unmap, c: close, p: open and close at once (a probe). Returns when done.
    void operator()(const char* commands) const {
        for (const char* command = commands; *command != '\0'; ++command) {
            char done = 0;
            ASSERT_EQ(::write(commands_, command, 1), 1);
            ASSERT_EQ(::read(answers_, &done, 1), 1);
        }
    }
    [[nodiscard]] pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int commands_ = -1;
    int answers_ = -1;
};

// What the watcher told, as it comes; optionally held up inside the callback.
struct Told {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<NodeEvent> events;
    bool holdCallbacks = false;

    CameraNodeWatcher::Callback callback() {
        return [this](const NodeEvent& event) {
            std::unique_lock lock(mutex);
            events.push_back(event);
            changed.notify_all();
            changed.wait(lock, [&] { return !holdCallbacks; });
        };
    }
    // Waits for the count-th event of this kind (1 = the first).
    bool waitFor(Kind kind, std::size_t count = 1) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return this->count(kind) >= count; });
    }
    std::size_t count(Kind kind) {
        return static_cast<std::size_t>(
            std::count_if(events.begin(), events.end(), [&](const NodeEvent& event) { return event.kind == kind; }));
    }
    std::size_t countNow(Kind kind) {
        std::lock_guard lock(mutex);
        return count(kind);
    }
    void release() {
        std::lock_guard lock(mutex);
        holdCallbacks = false;
        changed.notify_all();
    }
};

struct WatcherTest : ::testing::Test {
    TempDir dir{"tovak-node"};
    std::string node = dir.write("video0", std::string(4096, '\0'));
    Told told;

    std::unique_ptr<CameraNodeWatcher> watch(CameraNodeWatcher::Options options = {.freeAfterSeconds = kFreeAfter}) {
        std::string error;
        auto watcher = CameraNodeWatcher::start(node, told.callback(), options, error);
        EXPECT_TRUE(watcher) << error;
        return watcher;
    }
    // Opens and closes the node in this process, noted as our own as the capture notes its opens.
    void touch() const {
        CameraNodeWatcher::noteOwnOpen(node);
        ::close(::open(node.c_str(), O_RDONLY));
    }
};

TEST_F(WatcherTest, AnotherProgramStreamingHoldsTovakOffUntilItUnmapsAndTovaksOwnOpensDoNot) {
    StandIn other(node);
    auto watcher = watch();
    // Our own opens, one of them kept while nothing else happens, as the capture keeps it.
    touch();
    CameraNodeWatcher::noteOwnOpen(node);
    const int ours = ::open(node.c_str(), O_RDONLY);
    std::this_thread::sleep_for(kQuiet);
    ::close(ours);
    EXPECT_EQ(told.countNow(Kind::otherOpened), 0U) << "our own open";

    other("o");
    ASSERT_TRUE(told.waitFor(Kind::otherOpened));
    EXPECT_EQ(told.events.front().pid, other.pid());
    other("m");
    std::this_thread::sleep_for(kQuiet);
    EXPECT_EQ(told.countNow(Kind::cameraFree), 0U) << "free while it streams";
    // Unmapped but still open, as a program that stopped its camera and keeps the device.
    other("u");
    ASSERT_TRUE(told.waitFor(Kind::cameraFree));

    // Closed, opened again under the same descriptor number, and away for good.
    other("c");
    other("o");
    ASSERT_TRUE(told.waitFor(Kind::otherOpened, 2));
    other("m");
    std::this_thread::sleep_for(kQuiet);
    EXPECT_EQ(told.countNow(Kind::cameraFree), 1U) << "free while it streams";
    other("uc");
    ASSERT_TRUE(told.waitFor(Kind::cameraFree, 2));
    EXPECT_EQ(told.countNow(Kind::lost), 0U);
}

TEST_F(WatcherTest, AProbeAndAHolderThatNeverMapsCostOnePauseAndAQuickOpenIsSeenWhileTovakHoldsTheNode) {
    StandIn holder(node);
    StandIn prober(node);
    auto watcher = watch();
    holder("o");
    ASSERT_TRUE(told.waitFor(Kind::otherOpened));
    ASSERT_TRUE(told.waitFor(Kind::cameraFree)) << "a holder that never maps";

    prober("o");
    ASSERT_TRUE(told.waitFor(Kind::otherOpened, 2));
    prober("c");
    ASSERT_TRUE(told.waitFor(Kind::cameraFree, 2)) << "a probe";

    // Tovak streams; a program refused at once is gone before /proc is read, and still counts.
    CameraNodeWatcher::noteOwnOpen(node);
    const int ours = ::open(node.c_str(), O_RDONLY);
    std::this_thread::sleep_for(kQuiet);
    prober("p");
    ASSERT_TRUE(told.waitFor(Kind::otherOpened, 3));
    ASSERT_TRUE(told.waitFor(Kind::cameraFree, 3));
    ::close(ours);

    // Refused as busy with nobody in sight: a pause that ends.
    watcher->holdOff();
    ASSERT_TRUE(told.waitFor(Kind::cameraFree, 4));
    EXPECT_EQ(told.countNow(Kind::otherOpened), 3U);
}

TEST_F(WatcherTest, StartedWhileAnotherProgramStreamsItIsHeldOffAtOnce) {
    StandIn other(node);
    other("om");
    auto watcher = watch();
    ASSERT_TRUE(told.waitFor(Kind::otherOpened));
    other("uc");
    ASSERT_TRUE(told.waitFor(Kind::cameraFree));
}

// A process table of our own: each process's parent, start time, descriptors and mappings.
void writeProcess(const TempDir& proc, pid_t pid, unsigned long long start, const std::string& node, pid_t parent = 1) {
    const std::string folder = std::to_string(pid);
    std::filesystem::remove_all(proc.path() / folder);
    proc.write(folder + "/stat", folder + " (a (b) c) S " + std::to_string(parent) +
                                     " 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 " + std::to_string(start) + " 0 0\n");
    proc.write(folder + "/comm", "stand\tin\n");
    proc.write(folder + "/maps", "");
    std::filesystem::create_directories(proc.path() / folder / "fd");
    std::filesystem::create_symlink(node, proc.path() / folder / "fd" / "3");
}

TEST_F(WatcherTest, APidReusedByANewProcessIsANewOpener) {
    TempDir proc("tovak-proc");
    writeProcess(proc, 4242, 100, node);
    // This process is not in that table: its opens stand for events only.
    auto watcher = watch({.freeAfterSeconds = kFreeAfter, .procRoot = proc.path().string(), .selfPid = 1});
    writeProcess(proc, 4243, 150, node, 4242);
    touch();
    std::this_thread::sleep_for(kQuiet);
    EXPECT_EQ(told.countNow(Kind::otherOpened), 0U) << "the holder from before the start, and a child it shares with";
    writeProcess(proc, 4242, 200, node);
    touch();
    ASSERT_TRUE(told.waitFor(Kind::otherOpened));
    EXPECT_EQ(told.events.front().pid, 4242);
    EXPECT_EQ(told.events.front().program, "stand?in") << "no control character reaches the status line";
}

TEST_F(WatcherTest, LostEventsAGoneNodeOrANewCameraEndTheWatch) {
    const struct Row {
        const char* name;
        std::function<void(WatcherTest&)> act;
        const char* reason;
    } rows[] = {
        {"node removed", [](WatcherTest& t) { std::filesystem::remove(t.node); }, "removed"},
        {"node removed while another holds it",
         [](WatcherTest& t) {
             StandIn other(t.node);
             other("o");
             ASSERT_TRUE(t.told.waitFor(Kind::otherOpened));
             std::filesystem::remove(t.node);
             ASSERT_TRUE(t.told.waitFor(Kind::lost));
         },
         "removed"},
        {"node replaced", [](WatcherTest& t) { std::filesystem::rename(t.dir.write("other", ""), t.node); }, ""},
        {"a new camera", [](WatcherTest& t) { t.dir.write("video1", ""); }, "new camera"},
        {"queue overflow",
         [](WatcherTest& t) {
             // The watcher is kept in its callback while far more events pile up than the queue holds.
             t.told.holdCallbacks = true;
             StandIn other(t.node);
             other("o");
             ASSERT_TRUE(t.told.waitFor(Kind::otherOpened));
             for (int i = 0; i < 20000; ++i) {
                 t.touch();
             }
             t.told.release();
         },
         "overflow"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        node = dir.write("video0", std::string(4096, '\0'));
        std::filesystem::remove(dir / "video1");
        told.events.clear();
        auto watcher = watch();
        row.act(*this);
        ASSERT_TRUE(told.waitFor(Kind::lost));
        std::lock_guard lock(told.mutex);
        const NodeEvent& lost = told.events.back();
        EXPECT_EQ(lost.kind, Kind::lost);
        EXPECT_NE(lost.reason.find(row.reason), std::string::npos) << lost.reason;
    }
}

TEST(OpenerBudget, AProgramOpeningWithoutStreamingMayCostThreeSecondsOfPauseInAnyMinute) {
    camera::OpenerBudget budget(CameraNodeWatcher::Options{}.noStreamPauseSeconds,
                                CameraNodeWatcher::Options{}.noStreamWindowSeconds);
    budget.charge("/usr/bin/v4l2-ctl", 10, 12);
    budget.charge("/usr/bin/v4l2-ctl", 30, 30.5);
    const struct Row {
        const char* program;
        double at, left;
    } rows[] = {{"/usr/bin/v4l2-ctl", 9, 3},    {"/usr/bin/v4l2-ctl", 31, 0.5}, {"/usr/bin/v4l2-ctl", 70, 0.5},
                {"/usr/bin/v4l2-ctl", 71, 1.5}, {"/usr/bin/v4l2-ctl", 90.5, 3}, {"/usr/bin/cheese", 31, 3}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.program) + " at " + std::to_string(row.at));
        EXPECT_DOUBLE_EQ(budget.left(row.program, row.at), row.left);
    }
}

// Opening is not enough to keep Tovak off the node: a program reopening it sooner than the free
// delay runs out, even within a call's pause, costs its share beyond the call's, is named once and
// ignored, while a call still gets the camera; nor is /proc read for every open.
TEST_F(WatcherTest, AProgramThatKeepsOpeningWithoutStreamingIsIgnoredOnceItsShareIsUsedAndACallIsNot) {
    auto watcher = watch({.freeAfterSeconds = 1, .noStreamPauseSeconds = 0.5});
    StandIn call(node);
    call("om");
    ASSERT_TRUE(told.waitFor(Kind::otherOpened));
    const pid_t prober =
        spawnChild({"sh", "-c", "while :; do exec 3<'" + node + "'; sleep 0.3; exec 3<&-; sleep 0.4; done"});
    std::this_thread::sleep_for(kQuiet);
    call("uc");
    ASSERT_TRUE(told.waitFor(Kind::cameraFree)) << "its share after the call's pause, and no more";
    ASSERT_TRUE(told.waitFor(Kind::ignored));
    EXPECT_EQ((std::lock_guard(told.mutex), told.events.back().program),
              std::filesystem::canonical("/bin/sh").filename().string());
    std::this_thread::sleep_for(2s);  // three more of its opens
    EXPECT_EQ(told.countNow(Kind::otherOpened), 1U);
    EXPECT_EQ(told.countNow(Kind::ignored), 1U);
    call("o");
    EXPECT_TRUE(told.waitFor(Kind::otherOpened, 2)) << "the call's own pause cost it nothing";
    call("m");
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(told.countNow(Kind::cameraFree), 1U) << "a call that streams is never cut short";
    stopChild(prober);

    // However fast the opens come, /proc is read for them at most four times in any second.
    const unsigned long scans = watcher->eventScans();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 2000; ++i) {
        call("p");
        std::this_thread::sleep_for(1ms);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(watcher->eventScans() - scans, 4 * (seconds + 1)) << "in " << seconds << " s";
}

}  // namespace
}  // namespace tovak::testing

#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "QtTestEnvironment.h"
#include "platform/qt/QtMainQueue.h"
#include "runtime/Simulation.h"

namespace tovak::platform {
namespace {

using testing::drainEvents;
using testing::processEventsUntil;

TEST(QtMainQueue, RunsPostsFromEachThreadInOrderOnTheGuiThread) {
    QtMainQueue queue;
    std::mutex mutex;
    std::vector<int> seen;
    std::atomic<int> offThread{0};
    const auto post = [&](int value) {
        queue.async([&, value] {
            if (QThread::currentThread() != queue.thread()) {
                ++offThread;
            }
            std::lock_guard lock(mutex);
            seen.push_back(value);
        });
    };
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) {
            post(1000 + i);
        }
    });
    for (int i = 0; i < 200; ++i) {
        post(i);
    }
    worker.join();
    EXPECT_TRUE(seen.empty());  // nothing runs before the event loop does
    ASSERT_TRUE(processEventsUntil([&] {
        std::lock_guard lock(mutex);
        return seen.size() == 400;
    }));
    EXPECT_EQ(offThread, 0);
    std::vector<int> mine;
    std::vector<int> theirs;
    for (const int v : seen) {
        (v < 1000 ? mine : theirs).push_back(v);
    }
    EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()));
    EXPECT_TRUE(std::is_sorted(theirs.begin(), theirs.end()));
}

TEST(QtMainQueue, IsCurrentOnlyOnTheGuiThreadOutsideOtherQueues) {
    QtMainQueue queue;
    EXPECT_TRUE(queue.isCurrent());
    bool insideTask = false;
    queue.async([&] { insideTask = queue.isCurrent(); });
    drainEvents();
    EXPECT_TRUE(insideTask);

    bool onWorker = true;
    std::thread([&] { onWorker = queue.isCurrent(); }).join();
    EXPECT_FALSE(onWorker);

    // A simulated session queue stepped on the GUI thread is not the main queue.
    runtime::ManualSerialQueue session;
    bool insideSession = true;
    session.async([&] { insideSession = queue.isCurrent(); });
    session.runAll();
    EXPECT_FALSE(insideSession);
}

TEST(QtMainQueue, RunsAWorkItemAfterItsDelay) {
    QtMainQueue queue;
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> ranAfter{-1};
    std::thread([&] { queue.asyncAfter(0.15, runtime::WorkItem::make([&] { ranAfter = clock.elapsed(); })); }).join();
    drainEvents();
    EXPECT_EQ(ranAfter, -1);
    ASSERT_TRUE(processEventsUntil([&] { return ranAfter >= 0; }));
    EXPECT_GE(ranAfter, 140);
}

TEST(QtMainQueue, NeverRunsACancelledWorkItem) {
    QtMainQueue queue;
    bool cancelledRan = false;
    bool laterRan = false;
    const auto cancelled = runtime::WorkItem::make([&] { cancelledRan = true; });
    queue.asyncAfter(0.02, cancelled);
    queue.asyncAfter(0.05, runtime::WorkItem::make([&] { laterRan = true; }));
    cancelled->cancel();
    ASSERT_TRUE(processEventsUntil([&] { return laterRan; }));
    EXPECT_FALSE(cancelledRan);
}

TEST(QtMainQueue, DropsPendingTasksWhenDestroyed) {
    bool ran = false;
    {
        QtMainQueue queue;
        queue.async([&] { ran = true; });
    }
    drainEvents();
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace tovak::platform

#include <gtest/gtest.h>

#include <QTest>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "runtime/Simulation.h"
#include "runtime/qt/QtMainQueue.h"
#include "support/QtTest.h"

namespace tovak::runtime {
namespace {

using testing::drainEvents;

TEST(QtMainQueue, RunsEachThreadsPostsInOrderOnTheGuiThread) {
    QtMainQueue queue;
    std::vector<int> seen;  // only the GUI thread touches it
    const auto post = [&](int value) {
        queue.async([&, value] {
            EXPECT_EQ(QThread::currentThread(), queue.thread());
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 400; }));
    const auto split = std::stable_partition(seen.begin(), seen.end(), [](int v) { return v < 1000; });
    EXPECT_TRUE(std::is_sorted(seen.begin(), split));
    EXPECT_TRUE(std::is_sorted(split, seen.end()));
}

TEST(QtMainQueue, IsCurrentOnlyOnTheGuiThreadOutsideOtherQueues) {
    QtMainQueue queue;
    EXPECT_TRUE(queue.isCurrent());
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

TEST(QtMainQueue, RunsWorkItemsAfterTheirDelayUnlessCancelled) {
    QtMainQueue queue;
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> ranAfter{-1};
    bool cancelledRan = false;
    const auto cancelled = runtime::WorkItem::make([&] { cancelledRan = true; });
    std::thread([&] {
        queue.asyncAfter(0.02, cancelled);
        queue.asyncAfter(0.15, runtime::WorkItem::make([&] { ranAfter = clock.elapsed(); }));
    }).join();
    cancelled->cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ranAfter >= 0; }));
    EXPECT_GE(ranAfter, 140);
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
}  // namespace tovak::runtime

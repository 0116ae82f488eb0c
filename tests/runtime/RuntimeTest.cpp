#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runtime/Clock.h"
#include "runtime/Published.h"
#include "runtime/SerialQueue.h"
#include "runtime/Simulation.h"
#include "runtime/WorkItem.h"

using namespace tovak::runtime;

TEST(SerialQueue, RunsTasksInOrderOnOneThreadThatIsCurrentOnlyThere) {
    SerialQueue queue("test.serial");
    std::vector<int> order;
    std::set<std::thread::id> threads;
    std::mutex mutex;
    std::promise<void> done;
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
            threads.insert(std::this_thread::get_id());
            EXPECT_TRUE(queue.isCurrent());
            if (i == 199) {
                done.set_value();
            }
        });
    }
    done.get_future().wait();
    EXPECT_FALSE(queue.isCurrent());
    std::lock_guard lock(mutex);
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST(SerialQueue, ShutdownFinishesQueuedTasksAndDropsLaterOnes) {
    std::atomic<int> ran{0};
    {
        SerialQueue queue("test.shutdown");
        for (int i = 0; i < 50; ++i) {
            queue.async([&] {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                ++ran;
            });
        }
        queue.shutdown();
        EXPECT_EQ(ran.load(), 50);
        queue.async([&] { ++ran; });
        queue.shutdown();
    }
    EXPECT_EQ(ran.load(), 50);
}

TEST(WorkItem, CancelledBeforeItRunsNeverRuns) {
    int runs = 0;
    auto item = WorkItem::make([&] { ++runs; });
    item->perform();
    EXPECT_EQ(runs, 1);
    item->cancel();
    item->perform();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(item->isCancelled());
}

TEST(SystemClock, ZeroReadsAsLongAgoAndTimeDoesNotGoBack) {
    SystemClock clock;
    const double a = clock.now();
    const double b = clock.now();
    EXPECT_GT(a, 100000.0);
    EXPECT_GE(b, a);
}

TEST(Published, ObserversSeeTheNextValueBeforeTheChange) {
    ManualClock clock;
    ManualMainQueue main(clock);
    Published<int> value(1, main);
    std::vector<std::pair<int, int>> seen;  // (current, next) at notification time
    const auto token = value.observe([&](const int& next) { seen.emplace_back(value.get(), next); });
    value.set(2);
    value.set(3);
    value.removeObserver(token);
    value.set(4);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(1, 2));
    EXPECT_EQ(seen[1], std::make_pair(2, 3));
    EXPECT_EQ(value.get(), 4);
}

#ifndef NDEBUG
TEST(PublishedDeathTest, ChangingOffTheMainQueueAsserts) {
    ManualClock clock;
    ManualMainQueue main(clock);
    Published<int> value(1, main);
    ManualSerialQueue session;
    session.async([&] { value.set(2); });
    EXPECT_DEATH(session.runAll(), "main queue");
}
#endif

TEST(Simulation, MainQueueCountsAsCurrentForTheTestBodyButNotInsideOtherQueues) {
    Simulation sim;
    EXPECT_TRUE(sim.main.isCurrent());
    bool mainInsideSession = true;
    bool sessionInsideSession = false;
    sim.session.async([&] {
        mainInsideSession = sim.main.isCurrent();
        sessionInsideSession = sim.session.isCurrent();
    });
    sim.drain();
    EXPECT_FALSE(mainInsideSession);
    EXPECT_TRUE(sessionInsideSession);
    EXPECT_FALSE(sim.session.isCurrent());
}

TEST(Simulation, DelayedItemsRunAtTheirVirtualTimeInTimeOrder) {
    Simulation sim;
    const double start = sim.clock.now();
    std::vector<std::pair<std::string, double>> ran;
    auto late = WorkItem::make([&] { ran.emplace_back("late", sim.clock.now() - start); });
    auto early = WorkItem::make([&] {
        ran.emplace_back("early", sim.clock.now() - start);
        // Work posted by a delayed item runs before the next delayed item.
        sim.session.async([&] { ran.emplace_back("posted", sim.clock.now() - start); });
    });
    auto cancelled = WorkItem::make([&] { ran.emplace_back("cancelled", 0); });
    sim.main.asyncAfter(2.0, late);
    sim.main.asyncAfter(1.0, early);
    sim.main.asyncAfter(1.5, cancelled);
    cancelled->cancel();

    sim.advance(0.999);
    EXPECT_TRUE(ran.empty());
    sim.advance(1.5);
    ASSERT_EQ(ran.size(), 3u);
    EXPECT_EQ(ran[0].first, "early");
    EXPECT_DOUBLE_EQ(ran[0].second, 1.0);
    EXPECT_EQ(ran[1].first, "posted");
    EXPECT_EQ(ran[2].first, "late");
    EXPECT_DOUBLE_EQ(ran[2].second, 2.0);
    EXPECT_NEAR(sim.clock.now() - start, 2.499, 1e-9);
}

TEST(Simulation, DrainRunsWorkThatQueuesPostToEachOther) {
    Simulation sim;
    std::vector<int> order;
    sim.session.async([&] {
        order.push_back(1);
        sim.main.async([&] {
            order.push_back(2);
            sim.session.async([&] { order.push_back(3); });
        });
    });
    sim.drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

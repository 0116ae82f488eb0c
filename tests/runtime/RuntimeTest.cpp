#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <numeric>
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

TEST(SerialQueue, RunsTasksInOrderOnOneThreadThatIsCurrentOnlyThereAndFinishesThemAtShutdown) {
    std::vector<int> order;
    std::set<std::thread::id> threads;
    std::mutex mutex;
    SerialQueue queue("test.serial");
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            std::lock_guard lock(mutex);
            order.push_back(i);
            threads.insert(std::this_thread::get_id());
            EXPECT_TRUE(queue.isCurrent());
        });
    }
    EXPECT_FALSE(queue.isCurrent());
    queue.shutdown();
    queue.async([&] { order.push_back(-1); });  // dropped
    queue.shutdown();
    std::vector<int> expected(200);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST(SystemClock, ZeroReadsAsLongAgoAndTimeDoesNotGoBack) {
    SystemClock clock;
    const double a = clock.now();
    EXPECT_GT(a, 100000.0);
    EXPECT_GE(clock.now(), a);
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
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 2}, {2, 3}}));
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

TEST(Simulation, MainQueueIsCurrentOnlyInTheTestBodyAndDelayedItemsRunAtTheirVirtualTimeInOrder) {
    Simulation sim;
    EXPECT_TRUE(sim.main.isCurrent());
    std::vector<bool> inside;
    sim.session.async([&] { inside = {sim.main.isCurrent(), sim.session.isCurrent()}; });
    sim.drain();
    EXPECT_EQ(inside, (std::vector<bool>{false, true}));
    EXPECT_FALSE(sim.session.isCurrent());

    // Delayed items run at their virtual time in time order, and drain runs what they post.
    const double start = sim.clock.now();
    std::vector<std::pair<std::string, double>> ran;
    const auto record = [&](const char* name) { ran.emplace_back(name, sim.clock.now() - start); };
    auto cancelled = WorkItem::make([&] { record("cancelled"); });
    sim.main.asyncAfter(2.0, WorkItem::make([&] { record("late"); }));
    sim.main.asyncAfter(1.0, WorkItem::make([&] {
                            record("early");
                            // Runs before the next delayed item, and so does what it posts in turn.
                            sim.session.async([&] { sim.main.async([&] { record("posted"); }); });
                        }));
    sim.main.asyncAfter(1.5, cancelled);
    cancelled->cancel();
    sim.advance(0.999);
    EXPECT_TRUE(ran.empty());
    sim.advance(1.5);
    EXPECT_EQ(ran, (std::vector<std::pair<std::string, double>>{{"early", 1.0}, {"posted", 1.0}, {"late", 2.0}}));
    EXPECT_NEAR(sim.clock.now() - start, 2.499, 1e-9);
}

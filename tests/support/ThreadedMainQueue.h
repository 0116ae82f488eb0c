#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "runtime/TaskQueue.h"
#include "runtime/WorkItem.h"

namespace tovak::testing {

// A main loop on a thread of its own, with timers, standing in for the GUI thread in tests that
// need real concurrency.
class ThreadedMainQueue final : public runtime::MainQueue {
  public:
    ThreadedMainQueue();
    ~ThreadedMainQueue() override;
    ThreadedMainQueue(const ThreadedMainQueue&) = delete;
    ThreadedMainQueue& operator=(const ThreadedMainQueue&) = delete;

    void async(Task task) override;
    void asyncAfter(double delaySeconds, std::shared_ptr<runtime::WorkItem> item) override;
    [[nodiscard]] bool isCurrent() const override;

    // Runs task on the loop and waits for it.
    void sync(const Task& task);
    // Waits until every task posted so far (and every timer already due) has run.
    void flush() {
        sync([] {});
    }
    // Runs what is queued and due, then ends the loop; later posts are dropped.
    void shutdown();

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<std::chrono::steady_clock::time_point, std::shared_ptr<runtime::WorkItem>> timers_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tovak::testing

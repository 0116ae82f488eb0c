#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "runtime/TaskQueue.h"
#include "runtime/WorkItem.h"

namespace tovak::runtime {

// The main queue of a process without a window system: the thread that calls run() is the main
// thread; tasks run in posting order, delayed work items at their time on the steady clock.
class LoopMainQueue final : public runtime::MainQueue {
  public:
    void async(Task task) override;
    void asyncAfter(double delaySeconds, std::shared_ptr<runtime::WorkItem> item) override;
    [[nodiscard]] bool isCurrent() const override { return currentQueue() == this; }

    // Runs tasks until quit() or the deadline; returns true when quit() ended it. Tasks posted
    // after a quit wait for the next run.
    bool runUntil(std::chrono::steady_clock::time_point deadline);
    // Any thread.
    void quit();
    // Drops every task and timer not yet run; at the end of a process, so that closures holding
    // their owners strongly do not keep them alive in a cycle through this queue.
    void discardPending();

  private:
    struct Timer {
        std::chrono::steady_clock::time_point due;
        std::size_t sequence;
        std::shared_ptr<runtime::WorkItem> item;
    };

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::vector<Timer> timers_;
    std::size_t nextSequence_ = 0;
    bool quit_ = false;
};

}  // namespace tovak::runtime

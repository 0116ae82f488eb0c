#pragma once

#include <condition_variable>
#include <future>
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
    ThreadedMainQueue() : thread_([this] { run(); }) {}
    ~ThreadedMainQueue() override { shutdown(); }

    // A task is a timer due at once: everything runs in the order it falls due, ties in posting order.
    void async(Task task) override { asyncAfter(0, runtime::WorkItem::make(std::move(task))); }
    void asyncAfter(double delaySeconds, std::shared_ptr<runtime::WorkItem> item) override {
        const auto due =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(delaySeconds));
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            timers_.emplace(due, std::move(item));
        }
        wake_.notify_one();
    }
    [[nodiscard]] bool isCurrent() const override { return currentQueue() == this; }

    // Runs task on the loop and waits for it; sync([] {}) waits for everything posted (or due) so far.
    void sync(const Task& task) {
        std::promise<void> done;
        async([&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
    }
    // Runs what is queued and due, then ends the loop; later posts are dropped.
    void shutdown() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

  private:
    using Clock = std::chrono::steady_clock;

    void run() {
        CurrentScope scope(this);
        std::unique_lock lock(mutex_);
        while (!(stopping_ && (timers_.empty() || timers_.begin()->first > Clock::now()))) {
            if (timers_.empty()) {
                wake_.wait(lock);
            } else if (const auto due = timers_.begin()->first; due > Clock::now()) {
                wake_.wait_until(lock, due);
            } else {
                auto item = std::move(timers_.begin()->second);
                timers_.erase(timers_.begin());
                lock.unlock();
                item->perform();
                lock.lock();
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<Clock::time_point, std::shared_ptr<runtime::WorkItem>> timers_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tovak::testing

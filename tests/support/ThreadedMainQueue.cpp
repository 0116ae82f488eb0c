#include "support/ThreadedMainQueue.h"

#include <algorithm>
#include <future>

namespace tovak::testing {

ThreadedMainQueue::ThreadedMainQueue() : thread_([this] { run(); }) {}

ThreadedMainQueue::~ThreadedMainQueue() {
    shutdown();
}

// A task is a timer due at once: everything runs in the order it falls due, ties in posting order.
void ThreadedMainQueue::async(Task task) {
    asyncAfter(0, runtime::WorkItem::make(std::move(task)));
}

void ThreadedMainQueue::asyncAfter(double delaySeconds, std::shared_ptr<runtime::WorkItem> item) {
    const auto due = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                            std::chrono::duration<double>(delaySeconds));
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        timers_.emplace(due, std::move(item));
    }
    wake_.notify_one();
}

bool ThreadedMainQueue::isCurrent() const {
    return currentQueue() == this;
}

void ThreadedMainQueue::sync(const Task& task) {
    std::promise<void> done;
    async([&] {
        task();
        done.set_value();
    });
    done.get_future().wait();
}

void ThreadedMainQueue::shutdown() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ThreadedMainQueue::run() {
    CurrentScope scope(this);
    std::unique_lock lock(mutex_);
    while (!(stopping_ && (timers_.empty() || timers_.begin()->first > std::chrono::steady_clock::now()))) {
        if (timers_.empty()) {
            wake_.wait(lock);
        } else if (const auto due = timers_.begin()->first; due > std::chrono::steady_clock::now()) {
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

}  // namespace tovak::testing

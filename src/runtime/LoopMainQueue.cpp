#include "runtime/LoopMainQueue.h"

#include <algorithm>

namespace tovak::runtime {

void LoopMainQueue::async(Task task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

void LoopMainQueue::asyncAfter(double delaySeconds, std::shared_ptr<runtime::WorkItem> item) {
    const auto due = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                            std::chrono::duration<double>(std::max(0.0, delaySeconds)));
    {
        std::lock_guard lock(mutex_);
        timers_.push_back(Timer{due, nextSequence_++, std::move(item)});
    }
    wake_.notify_all();
}

void LoopMainQueue::quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
}

void LoopMainQueue::discardPending() {
    std::deque<Task> tasks;
    std::vector<Timer> timers;
    {
        std::lock_guard lock(mutex_);
        tasks.swap(tasks_);
        timers.swap(timers_);
    }
    // Destroyed outside the lock: a closure's destructor may post again.
}

bool LoopMainQueue::runUntil(std::chrono::steady_clock::time_point deadline) {
    CurrentScope scope(this);
    std::unique_lock lock(mutex_);
    while (true) {
        if (quit_) {
            // One quit ends one run, so the loop can be run again to finish up.
            quit_ = false;
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
            continue;
        }
        auto earliest = std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
            return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
        });
        if (earliest != timers_.end() && earliest->due <= now) {
            std::shared_ptr<runtime::WorkItem> item = std::move(earliest->item);
            timers_.erase(earliest);
            lock.unlock();
            item->perform();
            lock.lock();
            continue;
        }
        if (now >= deadline) {
            return false;
        }
        const auto wakeAt = earliest != timers_.end() ? std::min(earliest->due, deadline) : deadline;
        wake_.wait_until(lock, wakeAt);
    }
}

}  // namespace tovak::runtime

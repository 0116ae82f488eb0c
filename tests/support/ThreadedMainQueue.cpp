#include "support/ThreadedMainQueue.h"

#include <algorithm>
#include <future>

namespace tovak::testing {

ThreadedMainQueue::ThreadedMainQueue() {
    thread_ = std::thread([this] { run(); });
}

ThreadedMainQueue::~ThreadedMainQueue() {
    shutdown();
}

void ThreadedMainQueue::async(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void ThreadedMainQueue::asyncAfter(double delaySeconds, std::shared_ptr<runtime::WorkItem> item) {
    const auto due = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                            std::chrono::duration<double>(delaySeconds));
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        timers_.push_back(Timer{due, std::move(item)});
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

void ThreadedMainQueue::flush() {
    sync([] {});
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
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        auto due = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.due <= now; });
        if (due != timers_.end()) {
            auto item = std::move(due->item);
            timers_.erase(due);
            lock.unlock();
            item->perform();
            lock.lock();
            continue;
        }
        if (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
            continue;
        }
        if (stopping_) {
            return;
        }
        if (timers_.empty()) {
            wake_.wait(lock);
        } else {
            auto earliest = std::min_element(timers_.begin(), timers_.end(),
                                             [](const Timer& a, const Timer& b) { return a.due < b.due; });
            wake_.wait_until(lock, earliest->due);
        }
    }
}

}  // namespace tovak::testing

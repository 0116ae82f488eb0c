#include "runtime/SerialQueue.h"

#include <pthread.h>

#include <utility>

namespace tovak::runtime {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    worker_ = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue() {
    shutdown();
}

void SerialQueue::async(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

bool SerialQueue::isCurrent() const {
    return currentQueue() == this;
}

void SerialQueue::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && !worker_.joinable()) {
            return;
        }
        stopping_ = true;
    }
    wake_.notify_one();
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) {
        worker_.join();
    }
}

void SerialQueue::run() {
    // Linux limits thread names to 15 characters.
    pthread_setname_np(pthread_self(), label_.substr(0, 15).c_str());
    CurrentScope scope(this);
    for (;;) {
        Task task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) {
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace tovak::runtime

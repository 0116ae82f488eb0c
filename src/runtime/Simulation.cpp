#include "runtime/Simulation.h"

#include <algorithm>
#include <utility>

namespace tovak::runtime {

bool ManualMainQueue::earlier(const Delayed& a, const Delayed& b) {
    return a.due < b.due || (a.due == b.due && a.sequence < b.sequence);
}

bool ManualSerialQueue::runOne() {
    if (tasks_.empty()) {
        return false;
    }
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    CurrentScope scope(this);
    task();
    return true;
}

std::size_t ManualSerialQueue::runAll() {
    std::size_t count = 0;
    while (runOne()) {
        ++count;
    }
    return count;
}

void ManualMainQueue::asyncAfter(double delaySeconds, std::shared_ptr<WorkItem> item) {
    delayed_.push_back(Delayed{clock_.now() + delaySeconds, nextSequence_++, std::move(item)});
}

bool ManualMainQueue::isCurrent() const {
    const TaskQueue* current = currentQueue();
    return current == this || (current == nullptr && std::this_thread::get_id() == owner_);
}

bool ManualMainQueue::runOne() {
    if (tasks_.empty()) {
        return false;
    }
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    CurrentScope scope(this);
    task();
    return true;
}

std::size_t ManualMainQueue::runAll() {
    std::size_t count = 0;
    while (runOne()) {
        ++count;
    }
    return count;
}

std::size_t ManualMainQueue::pendingDelayed() const {
    return static_cast<std::size_t>(
        std::count_if(delayed_.begin(), delayed_.end(), [](const Delayed& d) { return !d.item->isCancelled(); }));
}

bool ManualMainQueue::runNextDelayed() {
    if (delayed_.empty()) {
        return false;
    }
    auto earliest = std::min_element(delayed_.begin(), delayed_.end(), earlier);
    Delayed next = std::move(*earliest);
    delayed_.erase(earliest);
    if (next.due > clock_.now()) {
        clock_.set(next.due);
    }
    CurrentScope scope(this);
    next.item->perform();
    return true;
}

std::optional<double> ManualMainQueue::nextDue() const {
    auto earliest = std::min_element(delayed_.begin(), delayed_.end(), earlier);
    if (earliest == delayed_.end()) {
        return std::nullopt;
    }
    return earliest->due;
}

void ManualMainQueue::advance(double seconds) {
    const double target = clock_.now() + seconds;
    for (auto due = nextDue(); due && *due <= target; due = nextDue()) {
        runNextDelayed();
        runAll();
    }
    clock_.set(target);
}

void Simulation::drain() {
    for (;;) {
        const std::size_t ran = session.runAll() + main.runAll() + background.runAll();
        if (ran == 0) {
            return;
        }
    }
}

void Simulation::advance(double seconds) {
    drain();
    const double target = clock.now() + seconds;
    // One delayed item at a time, so that the work it posts to other queues interleaves as it
    // would in a real process.
    for (auto due = main.nextDue(); due && *due <= target; due = main.nextDue()) {
        main.runNextDelayed();
        drain();
    }
    clock.set(target);
}

}  // namespace tovak::runtime

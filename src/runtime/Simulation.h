#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "runtime/Clock.h"
#include "runtime/TaskQueue.h"
#include "runtime/WorkItem.h"

namespace tovak::runtime {

// Deterministic stand-ins for the main queue, the serial queues and the clock, for tests and
// replays. Nothing runs until the owner steps a queue; delayed items run when virtual time reaches
// them. All of it is used from one thread.
class ManualClock final : public Clock {
  public:
    explicit ManualClock(double start = 1000.0) : now_(start) {}
    [[nodiscard]] double now() const override { return now_; }
    void set(double seconds) { now_ = seconds; }
    void advance(double seconds) { now_ += seconds; }

  private:
    double now_;
};

// A calendar clock that follows the virtual clock, and jumps ahead on its own as after a suspend.
class ManualWallClock final : public WallClock {
  public:
    ManualWallClock(const ManualClock& clock, double offset) : clock_(clock), offset_(offset) {}
    [[nodiscard]] double now() const override { return clock_.now() + offset_; }
    void jump(double seconds) { offset_ += seconds; }

  private:
    const ManualClock& clock_;
    double offset_;
};

class ManualSerialQueue final : public TaskQueue {
  public:
    void async(Task task) override { tasks_.push_back(std::move(task)); }
    [[nodiscard]] bool isCurrent() const override { return currentQueue() == this; }

    // Runs the oldest task; false when there was none.
    bool runOne();
    // Runs tasks, including those they post, until the queue is empty; returns how many ran.
    std::size_t runAll();
    [[nodiscard]] std::size_t pending() const { return tasks_.size(); }

  private:
    std::deque<Task> tasks_;
};

class ManualMainQueue final : public MainQueue {
  public:
    explicit ManualMainQueue(ManualClock& clock) : clock_(clock), owner_(std::this_thread::get_id()) {}

    void async(Task task) override { tasks_.push_back(std::move(task)); }
    void asyncAfter(double delaySeconds, std::shared_ptr<WorkItem> item) override;

    // The owning thread counts as the main thread whenever it is not inside another queue's task,
    // so a test body acts as the user interface.
    [[nodiscard]] bool isCurrent() const override;

    bool runOne();
    std::size_t runAll();

    // Moves the clock forward, running due delayed items at their own time, in time order, and
    // the immediate tasks they post.
    void advance(double seconds);
    // Moves the clock to the earliest delayed item and runs it; false when none is scheduled.
    bool runNextDelayed();
    // When the earliest delayed item is due, if any (cancelled items included: they run as no-ops).
    [[nodiscard]] std::optional<double> nextDue() const;

    [[nodiscard]] std::size_t pending() const { return tasks_.size(); }
    [[nodiscard]] std::size_t pendingDelayed() const;
    [[nodiscard]] double clockNow() const { return clock_.now(); }

  private:
    struct Delayed {
        double due;
        std::size_t sequence;
        std::shared_ptr<WorkItem> item;
    };
    static bool earlier(const Delayed& a, const Delayed& b);

    ManualClock& clock_;
    std::thread::id owner_;
    std::deque<Task> tasks_;
    std::vector<Delayed> delayed_;
    std::size_t nextSequence_ = 0;
};

// The runtime of one simulated process: a clock, the main queue, a session queue and a background
// queue, with helpers to drive them.
struct Simulation {
    ManualClock clock;
    // 1000 virtual seconds read as 2026-12-07 10:00:00 UTC.
    ManualWallClock wall{clock, 1796637600.0 - 1000.0};
    ManualMainQueue main{clock};
    ManualSerialQueue session;
    ManualSerialQueue background;

    // Runs every queue until none has immediate work left (delayed items keep waiting).
    void drain();
    // Drains, then advances virtual time, running delayed items and draining after each.
    void advance(double seconds);
};

}  // namespace tovak::runtime

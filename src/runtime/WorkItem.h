#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace tovak::runtime {

// A closure that can be scheduled and cancelled; once cancelled before it starts it never runs.
class WorkItem {
  public:
    explicit WorkItem(std::function<void()> body);

    static std::shared_ptr<WorkItem> make(std::function<void()> body) {
        return std::make_shared<WorkItem>(std::move(body));
    }

    void cancel() { cancelled_.store(true, std::memory_order_release); }
    [[nodiscard]] bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }

    // Runs the body unless the item was cancelled.
    void perform();

  private:
    std::atomic<bool> cancelled_{false};
    std::function<void()> body_;
};

using WorkItemPtr = std::shared_ptr<WorkItem>;

}  // namespace tovak::runtime

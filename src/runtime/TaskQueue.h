#pragma once

#include <functional>
#include <memory>

namespace tovak::runtime {

class WorkItem;

// A place where closures run one after another, in the order they were posted.
class TaskQueue {
  public:
    using Task = std::function<void()>;

    virtual ~TaskQueue() = default;

    // Posts a task and returns at once.
    virtual void async(Task task) = 0;

    // True when the calling code runs on this queue.
    [[nodiscard]] virtual bool isCurrent() const = 0;

  protected:
    // Marks the queue whose task the calling thread is running, for isCurrent().
    class CurrentScope {
      public:
        explicit CurrentScope(const TaskQueue* queue);
        ~CurrentScope();
        CurrentScope(const CurrentScope&) = delete;
        CurrentScope& operator=(const CurrentScope&) = delete;

      private:
        const TaskQueue* previous_;
    };

    [[nodiscard]] static const TaskQueue* currentQueue();
};

// The main (user interface) queue: also runs delayed work items.
class MainQueue : public TaskQueue {
  public:
    // Runs the item on this queue after the delay, unless it is cancelled first.
    virtual void asyncAfter(double delaySeconds, std::shared_ptr<WorkItem> item) = 0;
};

}  // namespace tovak::runtime

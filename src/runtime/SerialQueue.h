#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/TaskQueue.h"

namespace tovak::runtime {

// One worker thread running posted tasks in FIFO order. The destructor finishes the tasks already
// posted, then joins the thread; tasks posted after shutdown began are dropped.
class SerialQueue final : public TaskQueue {
  public:
    explicit SerialQueue(std::string label);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(Task task) override;
    [[nodiscard]] bool isCurrent() const override;
    [[nodiscard]] const std::string& label() const { return label_; }

    // Stops accepting tasks, runs what is queued and joins the worker. Idempotent.
    void shutdown();

  private:
    void run();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace tovak::runtime

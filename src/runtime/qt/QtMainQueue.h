#pragma once

#include <QObject>
#include <memory>

#include "runtime/TaskQueue.h"
#include "runtime/WorkItem.h"

namespace tovak::runtime {

// The main queue on the Qt GUI thread. Tasks posted from any thread run in posting order on the
// thread that created the queue (which must run the Qt event loop); delayed work items run from a
// single-shot timer. Tasks still pending when the queue is destroyed never run.
class QtMainQueue final : public QObject, public runtime::MainQueue {
  public:
    // Call on the GUI thread.
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void async(Task task) override;
    void asyncAfter(double delaySeconds, std::shared_ptr<runtime::WorkItem> item) override;
    // True on the GUI thread, except inside a task of another queue that runs on it (as the
    // simulation's queues do), so that code can tell the two lanes apart there too.
    [[nodiscard]] bool isCurrent() const override;
};

}  // namespace tovak::runtime

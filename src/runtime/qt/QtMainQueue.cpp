#include "runtime/qt/QtMainQueue.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace tovak::runtime {

QtMainQueue::QtMainQueue() = default;

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::async(Task task) {
    // Queued calls to one receiver are delivered in the order they were posted, from any thread.
    QMetaObject::invokeMethod(
        this,
        [this, task = std::move(task)] {
            CurrentScope scope(this);
            task();
        },
        Qt::QueuedConnection);
}

void QtMainQueue::asyncAfter(double delaySeconds, std::shared_ptr<runtime::WorkItem> item) {
    using Clock = std::chrono::steady_clock;
    const double seconds = std::isfinite(delaySeconds) ? std::clamp(delaySeconds, 0.0, 86400.0) : 0.0;
    const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    // Timers belong to the thread that starts them, so the timer is started on the GUI thread,
    // with what is left of the delay once this post arrives there.
    async([this, due, item = std::move(item)] {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(std::max(Clock::duration::zero(), due - Clock::now()));
        QTimer::singleShot(left, Qt::PreciseTimer, this, [this, item] {
            CurrentScope scope(this);
            item->perform();
        });
    });
}

bool QtMainQueue::isCurrent() const {
    const TaskQueue* running = currentQueue();
    return QThread::currentThread() == thread() && (running == nullptr || running == this);
}

}  // namespace tovak::runtime

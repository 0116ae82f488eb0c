#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace tovak::testing {

// Runs the event loop until condition holds or timeoutMs passes; returns the condition.
inline bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs = 2000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Delivers everything posted so far.
inline void drainEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

}  // namespace tovak::testing

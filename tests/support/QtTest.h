#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QWidget>

namespace tovak::testing {

// Delivers everything posted so far.
inline void drainEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

// Saves the window as NAME.png under TOVAK_SCREENSHOT_DIR, when that is set, for a person to look at.
inline void saveScreenshot(QWidget* window, const QString& name) {
    if (const QString dir = qEnvironmentVariable("TOVAK_SCREENSHOT_DIR"); !dir.isEmpty() && window != nullptr) {
        QDir().mkpath(dir);
        window->grab().save(dir + "/" + name + ".png");
    }
}

}  // namespace tovak::testing

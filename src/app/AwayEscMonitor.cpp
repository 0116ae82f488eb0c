#include "app/AwayEscMonitor.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace tovak::app {

AwayEscMonitor::AwayEscMonitor(QObject* parent) : QObject(parent) {}

AwayEscMonitor::~AwayEscMonitor() {
    if (installed_ && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
}

void AwayEscMonitor::sync(bool awayMode, std::function<void()> onEscape) {
    if (awayMode == installed_) {
        return;
    }
    if (awayMode) {
        // The installed filter keeps the action it was given when installed.
        onEscape_ = std::move(onEscape);
        QCoreApplication::instance()->installEventFilter(this);
        installed_ = true;
    } else {
        QCoreApplication::instance()->removeEventFilter(this);
        onEscape_ = nullptr;
        installed_ = false;
    }
}

bool AwayEscMonitor::eventFilter(QObject* watched, QEvent* event) {
    // Consumed at its first delivery (to the window), so the press reaches no widget and calls the
    // action once.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        if (onEscape_) {
            onEscape_();
        }
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tovak::app

#pragma once

#include <QAction>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "system/Policy.h"

namespace tovak::app {

// What the window and the tray need of the administrator's policy: which settings are locked and
// the longest pause. Empty: nothing locked, no limit.
struct AdminLocks {
    std::function<bool(const std::string& key)> isLocked;
    std::optional<unsigned> longestPauseSeconds;

    [[nodiscard]] bool locked(const char* key) const { return isLocked && isLocked(key); }
    [[nodiscard]] bool pauseAllowed(double seconds) const {
        return !longestPauseSeconds || seconds <= *longestPauseSeconds;
    }
};

// Greys out a control the administrator decided, and says why.
template <typename Control>
void showSetByAdministrator(Control* control) {
    control->setEnabled(false);
    control->setToolTip(QString::fromUtf8(system::kSetByAdministrator));
}

}  // namespace tovak::app

#pragma once

#include <QString>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace tovak::app {

// What "Блокировать, когда я ухожу" offers in the window and the tray: the session locked at once,
// 30 s or 2 min after away mode switched itself on.
inline constexpr const char* kLockOnLeaveText = "Блокировать, когда я ухожу";

// The delays offered, with a delay the settings hold beside them ("через 45 с") when it is another.
inline std::vector<std::pair<double, QString>> leaveDelays(std::optional<double> current) {
    std::vector<std::pair<double, QString>> delays = {
        {0.0, QStringLiteral("сразу")}, {30.0, QStringLiteral("через 30 с")}, {120.0, QStringLiteral("через 2 мин")}};
    if (current && *current != 0.0 && *current != 30.0 && *current != 120.0) {
        delays.emplace_back(*current, QStringLiteral("через %1 с").arg(std::round(*current * 10) / 10));
    }
    return delays;
}

}  // namespace tovak::app

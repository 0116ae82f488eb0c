#pragma once

#include <optional>
#include <string>

namespace tovak::app {

// Why the window application cannot show a window here, as the user reads it on standard error;
// none when the platform Qt is about to use (platforms: as QT_QPA_PLATFORM names them, empty for
// Qt's own choice) has a display or needs none, as Qt's offscreen platform. Asked before
// QApplication exists: Qt aborts the process when its platform finds none.
[[nodiscard]] std::optional<std::string> missingDisplayMessage(const std::string& platforms);

}  // namespace tovak::app

#pragma once

#include <optional>
#include <string>

namespace tovak::app {

// Why the window application cannot show a window here, as the user reads it on standard error;
// none when the platform Qt is about to use has a display (or needs none, as Qt's offscreen
// platform). Asked before QApplication exists: Qt aborts the process when its platform finds none.
[[nodiscard]] std::optional<std::string> missingDisplayMessage();

}  // namespace tovak::app

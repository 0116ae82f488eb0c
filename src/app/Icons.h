#pragma once

#include <QIcon>

namespace tovak::app {

enum class IconName { document, folder, reset, away, back, start, stop, cameraOff, app };

// The desktop theme's icon where it has one, else the one bundled with the program.
[[nodiscard]] QIcon icon(IconName name);

}  // namespace tovak::app

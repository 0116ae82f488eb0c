#pragma once

#include <QIcon>

namespace tovak::app {

enum class IconName {
    document,
    folder,
    reset,
    away,
    back,
    start,
    stop,
    pause,
    camera,
    cameraOff,
    app,
    trayWatching,
    trayPaused,
    trayStopped
};

// The desktop theme's icon where it has one, else the one bundled with the program.
[[nodiscard]] QIcon icon(IconName name);
// The icon in one flat colour, for a button whose background is coloured (and in another while the
// button is disabled).
[[nodiscard]] QIcon tintedIcon(IconName name, const QColor& colour, const QColor& disabledColour);

}  // namespace tovak::app

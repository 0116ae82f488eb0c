#pragma once

#include <functional>
#include <optional>

#include "imaging/Geometry.h"

class QRect;

namespace tovak::overlay {

// What the face windows need to know of the primary screen, in the toolkit's logical pixels with
// the origin at the top left of the virtual desktop.
struct ScreenGeometry {
    imaging::Rect frame;      // the whole screen
    imaging::Rect available;  // less the panels and docks of the desktop
    double devicePixelRatio = 1.0;
    bool operator==(const ScreenGeometry&) const = default;
};

// Asked on the GUI thread only; none when there is no screen.
using ScreenSource = std::function<std::optional<ScreenGeometry>()>;

// The application's primary screen.
[[nodiscard]] ScreenSource primaryScreen();

// A screen rectangle of Qt's as the imaging library's.
[[nodiscard]] imaging::Rect toRect(const QRect& rect);

}  // namespace tovak::overlay

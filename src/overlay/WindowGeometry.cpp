#include "overlay/WindowGeometry.h"

#include <algorithm>

namespace tovak::overlay {

imaging::Rect lowerRightFrame(const imaging::Rect& visibleArea, const imaging::Size& size, double margin, YAxis axis) {
    const double x = visibleArea.maxX() - size.width - margin;
    const double y = axis == YAxis::up ? visibleArea.y + margin : visibleArea.maxY() - size.height - margin;
    return {x, y, size.width, size.height};
}

imaging::Rect flippedVertically(const imaging::Rect& rect, double spaceHeight) {
    return {rect.x, spaceHeight - rect.maxY(), rect.width, rect.height};
}

PictureSizes fullscreenPictureSizes(const imaging::Size& screenSize, double devicePixelRatio) {
    return {{std::max(screenSize.width * devicePixelRatio, 64.0), std::max(screenSize.height * devicePixelRatio, 64.0)},
            screenSize};
}

}  // namespace tovak::overlay

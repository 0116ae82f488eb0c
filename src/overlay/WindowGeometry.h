#pragma once

#include "imaging/Geometry.h"

// Where the face windows go and how large their pictures are: plain arithmetic, no toolkit.
namespace tovak::overlay {

// Which way a coordinate system's y axis runs: up from the bottom edge, or down from the top
// (the toolkit's way).
enum class YAxis { up, down };

inline constexpr imaging::Size pipPanelSize{280, 210};
inline constexpr double pipPanelMargin = 16;

// The panel's frame in the lower right corner of the visible (available) screen area, margin points
// from its right and bottom edges. Area and result share the same y axis.
[[nodiscard]] imaging::Rect lowerRightFrame(const imaging::Rect& visibleArea, const imaging::Size& size, double margin,
                                            YAxis axis);

// The same rectangle described with the other y axis, in a space of the given height.
[[nodiscard]] imaging::Rect flippedVertically(const imaging::Rect& rect, double spaceHeight);

// The full-screen picture: the screen's size times its pixel ratio, at least 64 px per axis, to be
// drawn at the screen's size.
struct PictureSizes {
    imaging::Size pixels;
    imaging::Size logical;
};
[[nodiscard]] PictureSizes fullscreenPictureSizes(const imaging::Size& screenSize, double devicePixelRatio);

}  // namespace tovak::overlay

#pragma once

#include <opencv2/core.hpp>

#include "imaging/Geometry.h"

namespace tovak::imaging {

// Image orientations numbered as in EXIF: 1 up, 2 up-mirrored, 3 down, 4 down-mirrored,
// 5 left-mirrored, 6 right, 7 right-mirrored, 8 left.
enum class Orientation : int {
    up = 1,
    upMirrored = 2,
    down = 3,
    downMirrored = 4,
    leftMirrored = 5,
    right = 6,
    rightMirrored = 7,
    left = 8,
};

// True for the four orientations that swap width and height (5 to 8).
[[nodiscard]] bool swapsAxes(Orientation orientation);

// The size of a width x height image once turned upright.
[[nodiscard]] Size orientedSize(double width, double height, Orientation orientation);

// Turns and mirrors src so that it reads upright; dst is reallocated only when its size or type
// differs from what is needed.
void applyOrientation(const cv::Mat& src, cv::Mat& dst, Orientation orientation);

}  // namespace tovak::imaging

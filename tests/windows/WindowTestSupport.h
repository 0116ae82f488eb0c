#pragma once

#include <opencv2/core.hpp>

#include "imaging/PixelBuffer.h"
#include "windows/ScreenSource.h"

namespace tovak::testing {

// A 640 x 480 green frame with a red face in the box (0.4, 0.4, 0.2, 0.2).
inline imaging::PixelBufferPtr frameWithRedFace() {
    cv::Mat mat(480, 640, CV_8UC4, cv::Scalar(0, 160, 0, 255));
    mat(cv::Rect(256, 192, 128, 96)).setTo(cv::Scalar(0, 0, 230, 255));
    return std::make_shared<const imaging::PixelBuffer>(std::move(mat));
}
inline constexpr imaging::Rect redFaceBox{0.4, 0.4, 0.2, 0.2};

// A screen the test can change or take away; the controllers ask it on the GUI thread.
struct TestScreen {
    std::optional<windows::ScreenGeometry> geometry;
    windows::ScreenSource source() {
        return [this] { return geometry; };
    }
};

// A 1512 x 982 laptop screen at twice the pixel density, its top 25 points a menu bar.
inline windows::ScreenGeometry laptopScreen() {
    return {{0, 0, 1512, 982}, {0, 25, 1512, 957}, 2.0};
}

}  // namespace tovak::testing

#include <gtest/gtest.h>

#include "windows/WindowGeometry.h"

namespace tovak::windows {
namespace {

using imaging::Rect;

TEST(PanelPlacement, SitsSixteenPointsFromTheRightAndBottomWhicheverWayTheYAxisPoints) {
    // A screen of 982 points with a 25-point dock at the bottom and the menu bar at the top.
    EXPECT_EQ(lowerRightFrame({0, 25, 1512, 957}, {280, 210}, 16, YAxis::up), (Rect{1216, 41, 280, 210}));
    EXPECT_EQ(lowerRightFrame({0, 0, 1512, 957}, {280, 210}, 16, YAxis::down), (Rect{1216, 731, 280, 210}));
    for (const Rect& visible : {Rect{0, 25, 1512, 957}, Rect{1920, 40, 1280, 984}, Rect{-800, 0, 800, 600}}) {
        const Rect up = lowerRightFrame(visible, pipPanelSize, pipPanelMargin, YAxis::up);
        const Rect down = lowerRightFrame(flippedVertically(visible, 982), pipPanelSize, pipPanelMargin, YAxis::down);
        EXPECT_EQ(flippedVertically(down, 982), up);
        EXPECT_EQ((imaging::Size{up.width, up.height}), (imaging::Size{280, 210}));
    }
}

TEST(FullscreenPicture, IsTheScreenSizeTimesItsPixelRatioWithAtLeastSixtyFourPixelsPerAxis) {
    EXPECT_EQ(fullscreenPictureSizes({1512, 982}, 2.0).pixels, (imaging::Size{3024, 1964}));
    EXPECT_EQ(fullscreenPictureSizes({30, 100}, 2.0).pixels, (imaging::Size{64, 200}));
    EXPECT_EQ(fullscreenPictureSizes({30, 100}, 2.0).logical, (imaging::Size{30, 100}));
    EXPECT_EQ(fullscreenPictureSizes({100, 20}, 1.0).pixels, (imaging::Size{100, 64}));
}

}  // namespace
}  // namespace tovak::windows

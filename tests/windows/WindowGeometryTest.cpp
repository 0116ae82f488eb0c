#include <gtest/gtest.h>

#include "windows/WindowGeometry.h"

namespace tovak::windows {
namespace {

using imaging::Rect;

TEST(PanelPlacement, SitsSixteenPointsFromTheRightAndBottomWithTheYAxisUp) {
    // A screen of 982 points with a 25-point dock at the bottom and the menu bar at the top.
    EXPECT_EQ(lowerRightFrame({0, 25, 1512, 957}, pipPanelSize, pipPanelMargin, YAxis::up), (Rect{1216, 41, 280, 210}));
}

TEST(PanelPlacement, SitsSixteenPointsFromTheRightAndBottomWithTheYAxisDown) {
    // The same screen seen from the top: the available area ends 25 points above the bottom edge.
    EXPECT_EQ(lowerRightFrame({0, 0, 1512, 957}, pipPanelSize, pipPanelMargin, YAxis::down),
              (Rect{1216, 731, 280, 210}));
}

TEST(PanelPlacement, BothAxesDescribeTheSameSpot) {
    const double screenHeight = 982;
    for (const Rect& visible : {Rect{0, 25, 1512, 957}, Rect{1920, 40, 1280, 984}, Rect{-800, 0, 800, 600}}) {
        const Rect up = lowerRightFrame(visible, pipPanelSize, pipPanelMargin, YAxis::up);
        const Rect down =
            lowerRightFrame(flippedVertically(visible, screenHeight), pipPanelSize, pipPanelMargin, YAxis::down);
        EXPECT_EQ(flippedVertically(down, screenHeight), up);
    }
}

TEST(FullscreenPicture, IsTheScreenSizeTimesItsPixelRatio) {
    const PictureSizes sizes = fullscreenPictureSizes({1512, 982}, 2.0);
    EXPECT_EQ(sizes.pixels, (imaging::Size{3024, 1964}));
    EXPECT_EQ(sizes.logical, (imaging::Size{1512, 982}));
}

TEST(FullscreenPicture, HasAtLeastSixtyFourPixelsPerAxis) {
    const PictureSizes sizes = fullscreenPictureSizes({30, 100}, 2.0);
    EXPECT_EQ(sizes.pixels, (imaging::Size{64, 200}));
    EXPECT_EQ(sizes.logical, (imaging::Size{30, 100}));
    EXPECT_EQ(fullscreenPictureSizes({100, 20}, 1.0).pixels, (imaging::Size{100, 64}));
}

}  // namespace
}  // namespace tovak::windows

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "windows/FaceCropRender.h"

namespace tovak::windows {
namespace {

using imaging::Orientation;
using imaging::Rect;
using imaging::Size;
namespace fcr = FaceCropRender;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

void expectRect(const Rect& actual, const Rect& expected) {
    EXPECT_DOUBLE_EQ(actual.x, expected.x);
    EXPECT_DOUBLE_EQ(actual.y, expected.y);
    EXPECT_DOUBLE_EQ(actual.width, expected.width);
    EXPECT_DOUBLE_EQ(actual.height, expected.height);
}

imaging::PixelBufferPtr frameOf(int width, int height) {
    return std::make_shared<const imaging::PixelBuffer>(width, height);
}

TEST(ExpandNormalizedBox, PadsBothSidesAndClampsOnlyTheOrigin) {
    expectRect(fcr::expandNormalizedBox({0.02, 0.5, 0.2, 0.1}, 0.08), {0.004, 0.492, 0.232, 0.116});
    // The origin stops at 0 but the size keeps the full padding, so the box reaches further right.
    expectRect(fcr::expandNormalizedBox({0.01, 0.005, 0.2, 0.1}, 0.08), {0.0, 0.0, 0.232, 0.116});
}

TEST(ExpandNormalizedBox, ClampsTheSizeButNotTheFarEdge) {
    const Rect wide = fcr::expandNormalizedBox({0.05, 0.05, 0.9, 0.9}, 0.08);
    EXPECT_DOUBLE_EQ(wide.width, 1.0);
    EXPECT_DOUBLE_EQ(wide.height, 1.0);
    const Rect nearRightEdge = fcr::expandNormalizedBox({0.9, 0.85, 0.2, 0.2}, 0.08);
    EXPECT_DOUBLE_EQ(nearRightEdge.x, 0.884);
    EXPECT_GT(nearRightEdge.maxX(), 1.0);
    EXPECT_GT(nearRightEdge.maxY(), 1.0);
}

TEST(ExpandNormalizedBox, NotANumberFallsToTheClamps) {
    expectRect(fcr::expandNormalizedBox({nan, nan, 0.2, 0.2}, 0.08), {0.0, 0.0, 0.232, 0.232});
    expectRect(fcr::expandNormalizedBox({0.3, 0.3, nan, nan}, 0.08), {0.0, 0.0, 1.0, 1.0});
    expectRect(fcr::expandNormalizedBox({0.3, 0.3, 0.2, 0.2}, nan), {0.0, 0.0, 1.0, 1.0});
}

TEST(PixelRect, MapsTheBoxUnderEachOrientation) {
    const Rect box{0.1, 0.2, 0.3, 0.4};
    const Rect frame{0, 0, 1280, 720};
    expectRect(fcr::pixelRect(box, frame, Orientation::right), {512, 72, 512, 216});
    expectRect(fcr::pixelRect(box, frame, Orientation::left), {256, 72, 512, 216});
    expectRect(fcr::pixelRect(box, frame, Orientation::up), {128, 144, 384, 288});
}

TEST(PixelRect, MirroredOrientationsMapAsTheirPartners) {
    const Rect box{0.1, 0.2, 0.3, 0.4};
    const Rect frame{0, 0, 1280, 720};
    expectRect(fcr::pixelRect(box, frame, Orientation::rightMirrored), {512, 72, 512, 216});
    expectRect(fcr::pixelRect(box, frame, Orientation::leftMirrored), {256, 72, 512, 216});
    for (const int value : {2, 3, 4, 0, 9, -1}) {
        SCOPED_TRACE(value);
        expectRect(fcr::pixelRect(box, frame, static_cast<Orientation>(value)), {128, 144, 384, 288});
    }
}

TEST(PixelRect, HonoursTheExtentOriginWithoutClamping) {
    expectRect(fcr::pixelRect({0.5, -0.25, 1.0, 0.5}, {10, 20, 100, 40}, Orientation::up), {60, 10, 100, 20});
    expectRect(fcr::pixelRect({0.5, 0.25, 0.25, 0.5}, {10, 20, 100, 40}, Orientation::right), {35, 40, 50, 10});
}

TEST(Intersection, TouchingEdgesGiveZeroWidthAndDisjointGiveEmpty) {
    expectRect(fcr::intersection({0, 0, 10, 10}, {5, 5, 10, 10}), {5, 5, 5, 5});
    EXPECT_DOUBLE_EQ(fcr::intersection({0, 0, 10, 10}, {10, 0, 5, 5}).width, 0.0);
    expectRect(fcr::intersection({0, 0, 10, 10}, {20, 0, 5, 5}), {});
    expectRect(fcr::intersection({0, 0, 10, 10}, {nan, 0, 5, 5}), {});
}

TEST(CenterCropZoom, KeepsTheCentralPartInPlace) {
    const auto image = fcr::cropped(fcr::imageOfFrame(frameOf(400, 300)), {10, 20, 100, 80});
    const auto zoomed = fcr::centerCropZoom(image, 2.0);
    expectRect(zoomed.extent, {35, 40, 50, 40});
    expectRect(zoomed.visible, {35, 40, 50, 40});
}

TEST(CenterCropZoom, AppliesOnlyAboveTheThresholds) {
    const auto image = fcr::cropped(fcr::imageOfFrame(frameOf(400, 300)), {10, 20, 100, 80});
    expectRect(fcr::centerCropZoom(image, 1.001).extent, image.extent);
    expectRect(fcr::centerCropZoom(image, nan).extent, image.extent);
    EXPECT_LT(fcr::centerCropZoom(image, 1.0011).extent.width, 100.0);

    const auto thin = fcr::cropped(fcr::imageOfFrame(frameOf(400, 300)), {10, 20, 2, 80});
    expectRect(fcr::centerCropZoom(thin, 3.0).extent, thin.extent);
    const auto justWider = fcr::cropped(fcr::imageOfFrame(frameOf(400, 300)), {10, 20, 2.01, 80});
    EXPECT_LT(fcr::centerCropZoom(justWider, 3.0).extent.width, 2.01);
}

TEST(AspectFit, CentresTheScaledPictureBetweenBlackBars) {
    const auto crop = fcr::cropped(fcr::imageOfFrame(frameOf(1000, 800)), {300, 320, 100, 80});
    const auto fitted = fcr::aspectFit(crop, {280, 210});
    // 210 / 80 = 2.625 < 280 / 100: 262.5 x 210 between bars of 8.75.
    expectRect(fitted.extent, {0, 0, 280, 210});
    expectRect(fitted.placedPicture(), {8.75, 0, 262.5, 210});
    EXPECT_DOUBLE_EQ(fitted.scale, 2.625);
    EXPECT_TRUE(fitted.onBlack);
}

TEST(AspectFit, BarsGoAboveAndBelowATallTarget) {
    const auto crop = fcr::cropped(fcr::imageOfFrame(frameOf(1000, 800)), {0, 0, 100, 100});
    expectRect(fcr::aspectFit(crop, {50, 80}).placedPicture(), {0, 15, 50, 50});
}

TEST(AspectFit, LeavesAnEmptyImageUnchanged) {
    const auto outside = fcr::cropped(fcr::imageOfFrame(frameOf(100, 100)), {200, 0, 50, 50});
    const auto fitted = fcr::aspectFit(outside, {280, 210});
    EXPECT_LE(fitted.extent.width, 0.0);
    EXPECT_FALSE(fitted.onBlack);
}

TEST(Cropping, CutsACropThatLeavesTheFrame) {
    const auto image = fcr::cropped(fcr::imageOfFrame(frameOf(1000, 800)), {950, -30, 100, 80});
    expectRect(image.extent, {950, 0, 50, 50});
    expectRect(image.visible, {950, 0, 50, 50});
}

class FittedImageGuards : public ::testing::Test {
  protected:
    imaging::Renderer renderer;
    std::optional<imaging::Image> fit(const imaging::PixelBufferPtr& frame, const Rect& box, double zoom = 1.0,
                                      Size target = {280, 210}) {
        return fcr::fittedImage(frame, box, Orientation::up, 0.0, zoom, target, {140, 105}, renderer);
    }
};

TEST_F(FittedImageGuards, RejectsFramesOfOnePixelOnAnAxis) {
    EXPECT_FALSE(fit(frameOf(1, 500), {0, 0, 1, 1}));
    EXPECT_FALSE(fit(frameOf(500, 1), {0, 0, 1, 1}));
    EXPECT_TRUE(fit(frameOf(5, 500), {0, 0, 1, 1}));
    EXPECT_FALSE(fit(nullptr, {0, 0, 1, 1}));
}

TEST_F(FittedImageGuards, NeedsACropOfMoreThanFourPixels) {
    const auto frame = frameOf(8, 8);
    EXPECT_FALSE(fit(frame, {0, 0, 0.5, 0.75}));     // exactly 4.0 px wide
    EXPECT_FALSE(fit(frame, {0, 0, 0.75, 0.5}));     // exactly 4.0 px tall
    EXPECT_TRUE(fit(frame, {0, 0, 0.50125, 0.75}));  // 4.01 px
}

TEST_F(FittedImageGuards, ChecksTheCropBeforeCuttingItToTheFrame) {
    // 6 px wide before the cut, 2 px after: still rendered.
    EXPECT_TRUE(fit(frameOf(100, 100), {0.98, 0.4, 0.06, 0.2}));
}

TEST_F(FittedImageGuards, ACropWhollyOutsideTheFrameGivesNoImage) {
    EXPECT_FALSE(fit(frameOf(100, 100), {1.2, 0.2, 0.3, 0.3}));
    EXPECT_FALSE(fit(frameOf(100, 100), {1.0, 0.2, 0.3, 0.3}));  // touching the edge only
}

TEST_F(FittedImageGuards, UnusableTargetsGiveNoImage) {
    EXPECT_FALSE(fit(frameOf(100, 100), {0.1, 0.1, 0.5, 0.5}, 1.0, {0, 210}));
    EXPECT_FALSE(fit(frameOf(100, 100), {0.1, 0.1, 0.5, 0.5}, 1.0, {nan, 210}));
    EXPECT_FALSE(fit(frameOf(100, 100), {0.1, 0.1, 0.5, 0.5}, 1.0, {1e9, 1e9}));
}

TEST_F(FittedImageGuards, RecordsTheLogicalSizeAndRendersThePixelSize) {
    const auto image = fit(frameOf(100, 100), {0.1, 0.1, 0.5, 0.5});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bitmap->width(), 280);
    EXPECT_EQ(image->bitmap->height(), 210);
    EXPECT_DOUBLE_EQ(image->width, 140);
    EXPECT_DOUBLE_EQ(image->height, 105);
}

}  // namespace
}  // namespace tovak::windows

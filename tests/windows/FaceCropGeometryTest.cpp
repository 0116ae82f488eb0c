#include <gtest/gtest.h>

#include <limits>

#include "windows/FaceCropRender.h"

namespace tovak::windows {
namespace {

using imaging::Orientation;
using imaging::Rect;
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

TEST(ExpandNormalizedBox, ClampsOnlyTheOriginAndTheSizeAndNotANumberFallsToTheClamps) {
    const struct {
        Rect box;
        double padding;
        Rect expected;
    } rows[] = {
        {{0.02, 0.5, 0.2, 0.1}, 0.08, {0.004, 0.492, 0.232, 0.116}},
        // At the left edge the origin stops at 0 but the box keeps its full padded width.
        {{0.01, 0.005, 0.2, 0.1}, 0.08, {0.0, 0.0, 0.232, 0.116}},
        {{0.05, 0.05, 0.9, 0.9}, 0.08, {0.0, 0.0, 1.0, 1.0}},
        {{nan, nan, 0.2, 0.2}, 0.08, {0.0, 0.0, 0.232, 0.232}},
        {{0.3, 0.3, nan, nan}, 0.08, {0.0, 0.0, 1.0, 1.0}},
        {{0.3, 0.3, 0.2, 0.2}, nan, {0.0, 0.0, 1.0, 1.0}},
    };
    for (const auto& row : rows) {
        expectRect(fcr::expandNormalizedBox(row.box, row.padding), row.expected);
    }
    // The far edge is not clamped: the frame cuts it later.
    EXPECT_GT(fcr::expandNormalizedBox({0.9, 0.85, 0.2, 0.2}, 0.08).maxX(), 1.0);
}

TEST(PixelRect, MapsTheBoxUnderAllEightOrientationsAndBeyond) {
    const Rect box{0.1, 0.2, 0.3, 0.4};
    const Rect frame{0, 0, 1280, 720};
    for (const int value : {1, 2, 3, 4, 5, 6, 7, 8, 0, 9}) {
        SCOPED_TRACE(value);
        const Rect expected = value == 6 || value == 7   ? Rect{512, 72, 512, 216}
                              : value == 5 || value == 8 ? Rect{256, 72, 512, 216}
                                                         : Rect{128, 144, 384, 288};
        expectRect(fcr::pixelRect(box, frame, static_cast<Orientation>(value)), expected);
    }
    // The extent's origin counts, and nothing is clamped.
    expectRect(fcr::pixelRect({0.5, 0.25, 0.25, 0.5}, {10, 20, 100, 40}, Orientation::right), {35, 40, 50, 10});
    expectRect(fcr::pixelRect({0.5, -0.25, 1.0, 0.5}, {10, 20, 100, 40}, Orientation::up), {60, 10, 100, 20});
}

TEST(CenterCropZoom, KeepsTheCentralPartInPlaceOnlyAboveTheThresholds) {
    const auto image = fcr::cropped(fcr::imageOfFrame(frameOf(400, 300)), {10, 20, 100, 80});
    expectRect(fcr::centerCropZoom(image, 2.0).extent, {35, 40, 50, 40});
    expectRect(fcr::centerCropZoom(image, 2.0).visible, {35, 40, 50, 40});
    expectRect(fcr::centerCropZoom(image, 1.001).extent, image.extent);
    expectRect(fcr::centerCropZoom(image, nan).extent, image.extent);
    EXPECT_LT(fcr::centerCropZoom(image, 1.0011).extent.width, 100.0);

    const auto thin = fcr::cropped(fcr::imageOfFrame(frameOf(400, 300)), {10, 20, 2, 80});
    expectRect(fcr::centerCropZoom(thin, 3.0).extent, thin.extent);
    const auto justWider = fcr::cropped(fcr::imageOfFrame(frameOf(400, 300)), {10, 20, 2.01, 80});
    EXPECT_LT(fcr::centerCropZoom(justWider, 3.0).extent.width, 2.01);
}

TEST(AspectFit, CentresTheScaledPictureBetweenBlackBarsAndLeavesAnEmptyImageUnchanged) {
    const auto crop = fcr::cropped(fcr::imageOfFrame(frameOf(1000, 800)), {300, 320, 100, 80});
    const auto fitted = fcr::aspectFit(crop, {280, 210});
    // 210 / 80 = 2.625 < 280 / 100: 262.5 x 210 between bars of 8.75.
    expectRect(fitted.extent, {0, 0, 280, 210});
    expectRect(fitted.placedPicture(), {8.75, 0, 262.5, 210});
    EXPECT_TRUE(fitted.onBlack);
    const auto square = fcr::cropped(fcr::imageOfFrame(frameOf(1000, 800)), {0, 0, 100, 100});
    expectRect(fcr::aspectFit(square, {50, 80}).placedPicture(), {0, 15, 50, 50});
    const auto outside =
        fcr::aspectFit(fcr::cropped(fcr::imageOfFrame(frameOf(100, 100)), {200, 0, 50, 50}), {280, 210});
    EXPECT_LE(outside.extent.width, 0.0);
    EXPECT_FALSE(outside.onBlack);
}

class FittedImageGuards : public ::testing::Test {
  protected:
    imaging::Renderer renderer;
    std::optional<imaging::Image> fit(const imaging::PixelBufferPtr& frame, const Rect& box,
                                      imaging::Size target = {280, 210}) {
        return fcr::fittedImage(frame, box, Orientation::up, 0.0, 1.0, target, {140, 105}, renderer);
    }
};

TEST_F(FittedImageGuards, NeedsAFrameOfMoreThanOnePixelAndACropOfMoreThanFour) {
    EXPECT_FALSE(fit(frameOf(1, 500), {0, 0, 1, 1}));
    EXPECT_FALSE(fit(frameOf(500, 1), {0, 0, 1, 1}));
    EXPECT_FALSE(fit(nullptr, {0, 0, 1, 1}));
    EXPECT_FALSE(fit(frameOf(8, 8), {0, 0, 0.5, 0.75}));     // exactly 4.0 px wide
    EXPECT_FALSE(fit(frameOf(8, 8), {0, 0, 0.75, 0.5}));     // exactly 4.0 px tall
    EXPECT_TRUE(fit(frameOf(8, 8), {0, 0, 0.50125, 0.75}));  // 4.01 px
    // The crop is measured before the frame cuts it: 6 px wide, 2 px of them inside.
    EXPECT_TRUE(fit(frameOf(100, 100), {0.98, 0.4, 0.06, 0.2}));
}

TEST_F(FittedImageGuards, ACropOutsideTheFrameOrAnUnusableTargetGivesNoImage) {
    EXPECT_FALSE(fit(frameOf(100, 100), {1.2, 0.2, 0.3, 0.3}));
    EXPECT_FALSE(fit(frameOf(100, 100), {1.0, 0.2, 0.3, 0.3}));  // touching the edge only
    EXPECT_FALSE(fit(frameOf(100, 100), {0.1, 0.1, 0.5, 0.5}, {0, 210}));
    EXPECT_FALSE(fit(frameOf(100, 100), {0.1, 0.1, 0.5, 0.5}, {nan, 210}));
    EXPECT_FALSE(fit(frameOf(100, 100), {0.1, 0.1, 0.5, 0.5}, {1e9, 1e9}));
    const auto image = fit(frameOf(100, 100), {0.1, 0.1, 0.5, 0.5});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bitmap->width(), 280);
    EXPECT_DOUBLE_EQ(image->width, 140);
}

}  // namespace
}  // namespace tovak::windows

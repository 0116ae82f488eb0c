// The face crop's geometry and pixels and the windows' placement: no Qt, no display.
#include <gtest/gtest.h>

#include <limits>

#include "overlay/FaceCropRender.h"
#include "overlay/WindowGeometry.h"

namespace tovak::overlay {
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
        // The far edge is not clamped: the frame cuts it later.
        {{0.9, 0.85, 0.2, 0.2}, 0.08, {0.884, 0.834, 0.232, 0.232}},
    };
    for (const auto& row : rows) {
        expectRect(fcr::expandNormalizedBox(row.box, row.padding), row.expected);
    }
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
    // Bars left and right are measured on the pixels of a fitted image (FittedImage); here above and below.
    const auto square = fcr::aspectFit(fcr::cropped(fcr::imageOfFrame(frameOf(1000, 800)), {0, 0, 100, 100}), {50, 80});
    expectRect(square.extent, {0, 0, 50, 80});
    expectRect(square.placedPicture(), {0, 15, 50, 50});
    EXPECT_TRUE(square.onBlack);
    const auto outside =
        fcr::aspectFit(fcr::cropped(fcr::imageOfFrame(frameOf(100, 100)), {200, 0, 50, 50}), {280, 210});
    EXPECT_LE(outside.extent.width, 0.0);
    EXPECT_FALSE(outside.onBlack);
}

const cv::Vec4b black{0, 0, 0, 255};
const cv::Vec4b green{0, 200, 0, 255};
const cv::Vec4b red{0, 0, 220, 255};
const cv::Vec4b blue{210, 0, 0, 255};

// A green frame with one patch painted; the patch is given in frame image space (origin lower left).
imaging::PixelBufferPtr frameWithPatch(int width, int height, const Rect& patch, const cv::Vec4b& colour) {
    cv::Mat mat(height, width, CV_8UC4, cv::Scalar(green[0], green[1], green[2], 255));
    const int top = height - static_cast<int>(patch.maxY());
    mat(cv::Rect(static_cast<int>(patch.x), top, static_cast<int>(patch.width), static_cast<int>(patch.height)))
        .setTo(cv::Scalar(colour[0], colour[1], colour[2], 255));
    return std::make_shared<const imaging::PixelBuffer>(std::move(mat));
}

cv::Vec4b at(const imaging::Image& image, int x, int y) {
    return image.bitmap->mat().at<cv::Vec4b>(y, x);
}

class FittedImage : public ::testing::Test {
  protected:
    imaging::Renderer renderer;
    // No padding; the logical size is half the target's pixels.
    std::optional<imaging::Image> fit(const imaging::PixelBufferPtr& frame, const Rect& box,
                                      imaging::Size target = {280, 210}, Orientation orientation = Orientation::up,
                                      double zoom = 1.0) {
        return fcr::fittedImage(frame, box, orientation, 0.0, zoom, target, {target.width / 2, target.height / 2},
                                renderer);
    }
    // Fits the box of the frame and checks the picture's colour at each (x, y).
    void expectPixels(const char* name, const imaging::PixelBufferPtr& frame, const Rect& box,
                      std::initializer_list<std::tuple<int, int, cv::Vec4b>> samples, imaging::Size target = {280, 210},
                      Orientation orientation = Orientation::up, double zoom = 1.0) {
        SCOPED_TRACE(name);
        const auto image = fit(frame, box, target, orientation, zoom);
        ASSERT_TRUE(image);
        for (const auto& [x, y, colour] : samples) {
            EXPECT_EQ(at(*image, x, y), colour) << x << "," << y;
        }
    }
};

TEST_F(FittedImage, NeedsAFrameOfMoreThanOnePixelAndACropOfMoreThanFour) {
    EXPECT_FALSE(fit(frameOf(1, 500), {0, 0, 1, 1}));
    EXPECT_FALSE(fit(frameOf(500, 1), {0, 0, 1, 1}));
    EXPECT_FALSE(fit(nullptr, {0, 0, 1, 1}));
    EXPECT_FALSE(fit(frameOf(8, 8), {0, 0, 0.5, 0.75}));     // exactly 4.0 px wide
    EXPECT_FALSE(fit(frameOf(8, 8), {0, 0, 0.75, 0.5}));     // exactly 4.0 px tall
    EXPECT_TRUE(fit(frameOf(8, 8), {0, 0, 0.50125, 0.75}));  // 4.01 px
    // The crop is measured before the frame cuts it: 6 px wide, 2 px of them inside.
    EXPECT_TRUE(fit(frameOf(100, 100), {0.98, 0.4, 0.06, 0.2}));
}

TEST_F(FittedImage, ACropOutsideTheFrameOrAnUnusableTargetGivesNoImage) {
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

TEST_F(FittedImage, ShowsTheCropScaledZoomedOrTurnedBetweenBlackBars) {
    // The box maps to exactly (300, 320, 100, 80): 2.625 times larger, 8.75 px bars left and right. Edge
    // samples stay inside the crop: no green bleeds in from the rest of the frame.
    expectPixels("face fills the picture", frameWithPatch(1000, 800, {300, 320, 100, 80}, red), {0.3, 0.4, 0.1, 0.1},
                 {{0, 0, black}, {8, 105, black}, {9, 209, red}, {140, 105, red}, {270, 0, red}, {271, 209, black}});
    // The crop is (200, 200, 400, 400); its central half is the patch.
    const auto frame = frameWithPatch(1000, 1000, {300, 300, 200, 200}, red);
    expectPixels("no zoom", frame, {0.2, 0.2, 0.4, 0.4}, {{2, 2, green}}, {100, 100});
    expectPixels("zoom 2", frame, {0.2, 0.2, 0.4, 0.4}, {{0, 0, red}, {99, 99, red}}, {100, 100}, Orientation::up, 2.0);
    // Box (0.1, 0.2, 0.3, 0.4) of the upright picture lies at (512, 72, 512, 216) of the stored frame. Scaled
    // by 280 / 512 it is 118.125 px tall, centred: rows 46 to 163 hold the picture.
    expectPixels("orientation six", frameWithPatch(1280, 720, {512, 72, 512, 216}, blue), {0.1, 0.2, 0.3, 0.4},
                 {{0, 46, blue}, {279, 163, blue}, {140, 45, black}, {140, 164, black}}, {280, 210},
                 Orientation::right);
    // (950, 320, 100, 80) keeps 50 x 80 px inside: 131.25 px wide at 2.625, bars of 74.375. A pixel
    // belongs to the picture when its centre does.
    expectPixels("cut by the frame", frameWithPatch(1000, 800, {950, 320, 50, 80}, red), {0.95, 0.4, 0.1, 0.1},
                 {{73, 100, black}, {74, 100, red}, {205, 100, red}, {206, 100, black}});
}

TEST_F(FittedImage, ResamplesBilinearlyAtPixelCentres) {
    // Blue counts columns and green counts rows, so a sample reads back where it was taken from.
    cv::Mat mat(100, 200, CV_8UC4);
    for (int y = 0; y < mat.rows; ++y) {
        for (int x = 0; x < mat.cols; ++x) {
            mat.at<cv::Vec4b>(y, x) = {static_cast<uchar>(x), static_cast<uchar>(y), 0, 255};
        }
    }
    const auto frame = std::make_shared<const imaging::PixelBuffer>(std::move(mat));
    // Frame rectangle (50, 20, 100, 50) is rows 30 to 79 from the top, doubled into 200 x 100.
    const auto image = fit(frame, {0.25, 0.2, 0.5, 0.5}, {200, 100});
    ASSERT_TRUE(image);
    const auto expectSample = [&](int x, int y, double column, double row) {
        const cv::Vec4b pixel = at(*image, x, y);
        EXPECT_NEAR(pixel[0], column, 0.51) << x << "," << y;
        EXPECT_NEAR(pixel[1], row, 0.51) << x << "," << y;
    };
    expectSample(100, 50, 99.75, 54.75);
    expectSample(101, 51, 100.25, 55.25);
    expectSample(0, 0, 50, 30);      // the crop's own edge pixel, never its neighbour outside
    expectSample(199, 99, 149, 79);  // likewise at the far corner
}

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
    EXPECT_EQ(fullscreenPictureSizes({30, 100}, 2.0).pixels, (imaging::Size{64, 200}));
    EXPECT_EQ(fullscreenPictureSizes({30, 100}, 2.0).logical, (imaging::Size{30, 100}));
    EXPECT_EQ(fullscreenPictureSizes({100, 20}, 1.0).pixels, (imaging::Size{100, 64}));
}

}  // namespace
}  // namespace tovak::overlay

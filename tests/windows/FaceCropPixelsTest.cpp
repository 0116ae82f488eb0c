#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "windows/FaceCropRender.h"

namespace tovak::windows {
namespace {

using imaging::Orientation;
using imaging::Rect;
namespace fcr = FaceCropRender;

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

class FaceCropPixels : public ::testing::Test {
  protected:
    imaging::Renderer renderer;
};

TEST_F(FaceCropPixels, FaceFillsThePictureAndTheBarsAreBlack) {
    // The box maps to exactly (300, 320, 100, 80): 2.625 times larger, 8.75 px bars left and right.
    const auto frame = frameWithPatch(1000, 800, {300, 320, 100, 80}, red);
    const auto image =
        fcr::fittedImage(frame, {0.3, 0.4, 0.1, 0.1}, Orientation::up, 0.0, 1.0, {280, 210}, {280, 210}, renderer);
    ASSERT_TRUE(image);
    for (const int y : {0, 105, 209}) {
        for (int x = 0; x <= 8; ++x) {
            EXPECT_EQ(at(*image, x, y), black) << x << "," << y;
            EXPECT_EQ(at(*image, 279 - x, y), black) << 279 - x << "," << y;
        }
        // Edge samples stay inside the crop: no green bleeds in from the rest of the frame.
        for (const int x : {9, 140, 270}) {
            EXPECT_EQ(at(*image, x, y), red) << x << "," << y;
        }
    }
}

TEST_F(FaceCropPixels, ZoomKeepsOnlyTheCentreOfTheCrop) {
    // The crop is (200, 200, 400, 400); its central half is the patch.
    const auto frame = frameWithPatch(1000, 1000, {300, 300, 200, 200}, red);
    const auto plain =
        fcr::fittedImage(frame, {0.2, 0.2, 0.4, 0.4}, Orientation::up, 0.0, 1.0, {100, 100}, {100, 100}, renderer);
    const auto zoomed =
        fcr::fittedImage(frame, {0.2, 0.2, 0.4, 0.4}, Orientation::up, 0.0, 2.0, {100, 100}, {100, 100}, renderer);
    ASSERT_TRUE(plain && zoomed);
    EXPECT_EQ(at(*plain, 2, 2), green);
    EXPECT_EQ(at(*zoomed, 0, 0), red);
    EXPECT_EQ(at(*zoomed, 99, 99), red);
}

TEST_F(FaceCropPixels, OrientationSixCropsTheTurnedRegion) {
    // Box (0.1, 0.2, 0.3, 0.4) of the upright picture lies at (512, 72, 512, 216) of the stored frame.
    const auto frame = frameWithPatch(1280, 720, {512, 72, 512, 216}, blue);
    const auto turned =
        fcr::fittedImage(frame, {0.1, 0.2, 0.3, 0.4}, Orientation::right, 0.0, 1.0, {280, 210}, {280, 210}, renderer);
    ASSERT_TRUE(turned);
    // 512 x 216 scaled by 280 / 512 is 118.125 px tall, centred: rows 46 to 163 hold the picture.
    EXPECT_EQ(at(*turned, 0, 46), blue);
    EXPECT_EQ(at(*turned, 279, 163), blue);
    EXPECT_EQ(at(*turned, 140, 45), black);
    EXPECT_EQ(at(*turned, 140, 164), black);

    const auto upright =
        fcr::fittedImage(frame, {0.1, 0.2, 0.3, 0.4}, Orientation::up, 0.0, 1.0, {280, 210}, {280, 210}, renderer);
    ASSERT_TRUE(upright);
    EXPECT_EQ(at(*upright, 20, 105), green);
}

TEST_F(FaceCropPixels, ACropCutByTheFrameShowsOnlyWhatIsInside) {
    // (950, 320, 100, 80) keeps 50 x 80 px inside: 131.25 px wide at 2.625, bars of 74.375. A pixel
    // belongs to the picture when its centre does.
    const auto frame = frameWithPatch(1000, 800, {950, 320, 50, 80}, red);
    const auto image =
        fcr::fittedImage(frame, {0.95, 0.4, 0.1, 0.1}, Orientation::up, 0.0, 1.0, {280, 210}, {280, 210}, renderer);
    ASSERT_TRUE(image);
    EXPECT_EQ(at(*image, 73, 100), black);
    EXPECT_EQ(at(*image, 74, 100), red);
    EXPECT_EQ(at(*image, 205, 100), red);
    EXPECT_EQ(at(*image, 206, 100), black);
}

TEST_F(FaceCropPixels, ResamplesBilinearlyAtPixelCentres) {
    // Blue counts columns and green counts rows, so a sample reads back where it was taken from.
    cv::Mat mat(100, 200, CV_8UC4);
    for (int y = 0; y < mat.rows; ++y) {
        for (int x = 0; x < mat.cols; ++x) {
            mat.at<cv::Vec4b>(y, x) = {static_cast<uchar>(x), static_cast<uchar>(y), 0, 255};
        }
    }
    const auto frame = std::make_shared<const imaging::PixelBuffer>(std::move(mat));
    // Frame rectangle (50, 20, 100, 50) is rows 30 to 79 from the top, doubled into 200 x 100.
    const auto image =
        fcr::fittedImage(frame, {0.25, 0.2, 0.5, 0.5}, Orientation::up, 0.0, 1.0, {200, 100}, {200, 100}, renderer);
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

}  // namespace
}  // namespace tovak::windows

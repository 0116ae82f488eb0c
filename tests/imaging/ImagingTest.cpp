#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <stdexcept>

#include "imaging/Orientation.h"
#include "imaging/PixelBuffer.h"
#include "imaging/Renderer.h"

using namespace tovak::imaging;

namespace {

// A W x H image whose pixel (x, y) carries its own coordinates in blue and green.
cv::Mat coordinateImage(int width, int height) {
    cv::Mat image(height, width, CV_8UC4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.at<cv::Vec4b>(y, x) = cv::Vec4b(static_cast<uchar>(x), static_cast<uchar>(y), 7, 255);
        }
    }
    return image;
}

// Where the source pixel (x, y) of a W x H image lands once the orientation is applied: swapped
// (transposed) first for the turned ones, then mirrored across either axis of the result.
cv::Point expectedPosition(Orientation o, int x, int y, int w, int h) {
    const struct {
        bool transposed, flipX, flipY;
    } kTurns[] = {{false, false, false}, {false, true, false}, {false, true, true}, {false, false, true},
                  {true, false, false},  {true, true, false},  {true, true, true},  {true, false, true}};
    const auto& turn = kTurns[static_cast<int>(o) - 1];
    cv::Point p = turn.transposed ? cv::Point{y, x} : cv::Point{x, y};
    const cv::Size size = turn.transposed ? cv::Size{h, w} : cv::Size{w, h};
    p.x = turn.flipX ? size.width - 1 - p.x : p.x;
    p.y = turn.flipY ? size.height - 1 - p.y : p.y;
    return p;
}

}  // namespace

TEST(Orientation, EachOfTheEightTurnsAndMirrorsTheImageUpright) {
    const int w = 5;
    const int h = 3;
    const cv::Mat src = coordinateImage(w, h);
    for (int value = 1; value <= 8; ++value) {
        const auto o = static_cast<Orientation>(value);
        SCOPED_TRACE(value);
        cv::Mat dst;
        applyOrientation(src, dst, o);
        const Size size = orientedSize(w, h, o);
        ASSERT_EQ(dst.cols, static_cast<int>(size.width));
        ASSERT_EQ(dst.rows, static_cast<int>(size.height));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const cv::Point p = expectedPosition(o, x, y, w, h);
                const auto pixel = dst.at<cv::Vec4b>(p.y, p.x);
                EXPECT_EQ(pixel[0], x);
                EXPECT_EQ(pixel[1], y);
            }
        }
    }
}

TEST(Renderer, RendersUprightAndScaledWithTheLogicalSizeOfTheScaledExtentOrNothing) {
    Renderer renderer;
    PixelBuffer frame(1280, 720);
    const struct {
        Orientation orientation;
        double scale;
        int pixelWidth, pixelHeight;
        double height;
    } rows[] = {{Orientation::up, 0.5, 640, 360, 360},
                {Orientation::right, 640.0 / 720.0, 640, 1138, 1280.0 * 640.0 / 720.0}};
    for (const auto& row : rows) {
        auto image = renderer.renderUpright(frame, row.orientation, row.scale);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->bitmap->width(), row.pixelWidth);
        EXPECT_EQ(image->bitmap->height(), row.pixelHeight);
        EXPECT_EQ(image->bitmap->bytesPerRow(), 640u * 4u);
        EXPECT_DOUBLE_EQ(image->width, 640);
        EXPECT_NEAR(image->height, row.height, 1e-9);
    }
    EXPECT_FALSE(renderer.renderUpright(frame, Orientation::up, 0.0));
    EXPECT_FALSE(renderer.renderUpright(frame, Orientation::up, std::nan("")));
    EXPECT_THROW(PixelBuffer(cv::Mat(2, 2, CV_8UC3)), std::invalid_argument);
}

TEST(Renderer, KeepsTheColoursOfTheFrameWhereTheyBelong) {
    // Left half red, right half blue; mirrored, the colours swap sides.
    cv::Mat bgra(40, 80, CV_8UC4, cv::Scalar(0, 0, 255, 255));
    bgra(cv::Rect(40, 0, 40, 40)).setTo(cv::Scalar(255, 0, 0, 255));
    PixelBuffer frame(bgra);
    auto image = Renderer().renderUpright(frame, Orientation::upMirrored, 1.0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bitmap->mat().at<cv::Vec4b>(20, 5), cv::Vec4b(255, 0, 0, 255));
    EXPECT_EQ(image->bitmap->mat().at<cv::Vec4b>(20, 75), cv::Vec4b(0, 0, 255, 255));
    EXPECT_EQ(frame.mat().at<cv::Vec4b>(20, 5), cv::Vec4b(0, 0, 255, 255));  // the source is left as it was
}

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <opencv2/imgproc.hpp>

#include "TestData.h"
#include "imaging/Orientation.h"
#include "platform/demo/DemoScene.h"
#include "platform/opencv/BlazeFaceDetector.h"

namespace tovak::testing {
namespace {

using imaging::Orientation;
using monitor::FaceObservation;
using platform::BlazeFaceDetector;

// The astronaut's face in astronaut.png, in pixels with the origin at the top left, as a person
// would outline it: forehead to chin, ear to ear.
const cv::Rect2d kAstronautFace(180, 85, 90, 95);

cv::Rect2d toPixelsTopLeft(const imaging::Rect& box, const cv::Size& size) {
    return {box.x * size.width, (1.0 - box.maxY()) * size.height, box.width * size.width, box.height * size.height};
}

double overlap(const cv::Rect2d& a, const cv::Rect2d& b) {
    return (a & b).area() / (a | b).area();
}

std::vector<FaceObservation> sortedByArea(std::vector<FaceObservation> faces) {
    std::stable_sort(faces.begin(), faces.end(), [](const FaceObservation& a, const FaceObservation& b) {
        return a.boundingBox.area() > b.boundingBox.area();
    });
    return faces;
}

imaging::PixelBufferPtr bgra(const cv::Mat& bgr) {
    return imaging::PixelBuffer::fromBgr(bgr);
}

class DetectorTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        detector_ = new BlazeFaceDetector(modelPath(true), BlazeFaceDetector::Model::fullRange);
    }
    static void TearDownTestSuite() {
        delete detector_;
        detector_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(detector_->isAvailable()) << detector_->loadError(); }

    static std::vector<FaceObservation> detect(const cv::Mat& bgr, Orientation orientation = Orientation::up) {
        auto handler = detector_->makeHandler(bgra(bgr), orientation);
        std::optional<std::vector<FaceObservation>> faces = handler->performFaceRectangles();
        EXPECT_TRUE(faces.has_value());
        return faces.value_or(std::vector<FaceObservation>{});
    }

    static BlazeFaceDetector* detector_;
};

BlazeFaceDetector* DetectorTest::detector_ = nullptr;

TEST_F(DetectorTest, FindsTheFaceWhereItIsWithABoxOfTheRightSize) {
    const cv::Mat photo = loadDemoPhoto("astronaut.png");
    const std::vector<FaceObservation> faces = detect(photo);
    ASSERT_EQ(faces.size(), 1U);
    const cv::Rect2d found = toPixelsTopLeft(faces[0].boundingBox, photo.size());
    EXPECT_GT(overlap(found, kAstronautFace), 0.6) << found;
    EXPECT_NEAR(found.width, kAstronautFace.width, 0.2 * kAstronautFace.width);
    EXPECT_GE(faces[0].confidence, BlazeFaceDetector::defaultScoreThreshold);
}

TEST_F(DetectorTest, LetterboxingKeepsAWideFrameUndistorted) {
    // The photograph on a wide black canvas: the box must follow it, not be squashed.
    const cv::Mat photo = loadDemoPhoto("astronaut.png");
    cv::Mat wide(photo.rows, photo.cols * 2, CV_8UC3, cv::Scalar::all(0));
    photo.copyTo(wide(cv::Rect(photo.cols, 0, photo.cols, photo.rows)));
    const std::vector<FaceObservation> faces = detect(wide);
    ASSERT_EQ(faces.size(), 1U);
    const cv::Rect2d expected = kAstronautFace + cv::Point2d(photo.cols, 0);
    const cv::Rect2d found = toPixelsTopLeft(faces[0].boundingBox, wide.size());
    EXPECT_GT(overlap(found, expected), 0.5) << found;
    EXPECT_NEAR(found.width / found.height, 1.0, 0.25);
}

TEST_F(DetectorTest, TwoFacesInACompositeComeOutLargestFirst) {
    std::string error;
    auto scene = platform::DemoScene::load(demoPhoto(""), error);
    ASSERT_TRUE(scene) << error;
    const int frame = static_cast<int>(10.0 * platform::DemoScene::fps);
    ASSERT_EQ(platform::DemoScene::scriptedFaceCount(frame), 2U);
    auto handler = detector_->makeHandler(scene->render(frame), Orientation::up);
    const std::vector<FaceObservation> faces = sortedByArea(handler->performFaceRectangles().value());
    ASSERT_EQ(faces.size(), 2U);
    // The user sits in the middle; the onlooker stands behind, at the upper right, smaller.
    EXPECT_GT(faces[0].boundingBox.area(), 3 * faces[1].boundingBox.area());
    EXPECT_LT(std::abs(faces[0].boundingBox.x + faces[0].boundingBox.width / 2 - 0.47), 0.1);
    EXPECT_GT(faces[1].boundingBox.x, 0.65);
    EXPECT_GT(faces[1].boundingBox.y, 0.55);
}

TEST_F(DetectorTest, ImagesWithoutFacesGiveNone) {
    EXPECT_TRUE(detect(loadDemoPhoto("brick.png")).empty());
    EXPECT_TRUE(detect(cv::Mat(480, 640, CV_8UC3, cv::Scalar(90, 110, 130))).empty());
    std::string error;
    auto scene = platform::DemoScene::load(demoPhoto(""), error);
    ASSERT_TRUE(scene) << error;
    auto handler =
        detector_->makeHandler(scene->render(static_cast<int>(30.0 * platform::DemoScene::fps)), Orientation::up);
    EXPECT_TRUE(handler->performFaceRectangles().value().empty());
}

// The raw frame that reads upright under the orientation.
cv::Mat rawFor(const cv::Mat& upright, Orientation orientation) {
    Orientation inverse = orientation;
    if (orientation == Orientation::right) {
        inverse = Orientation::left;
    } else if (orientation == Orientation::left) {
        inverse = Orientation::right;
    }
    cv::Mat raw;
    imaging::applyOrientation(upright, raw, inverse);
    return raw;
}

TEST_F(DetectorTest, EveryOrientationGivesTheSameUprightBox) {
    // Not square, so that a swapped width and height would show.
    const cv::Mat upright = loadDemoPhoto("astronaut.png")(cv::Rect(0, 0, 512, 400)).clone();
    const std::vector<FaceObservation> reference = detect(upright);
    ASSERT_EQ(reference.size(), 1U);
    for (int o = 1; o <= 8; ++o) {
        const auto orientation = static_cast<Orientation>(o);
        const std::vector<FaceObservation> faces = detect(rawFor(upright, orientation), orientation);
        ASSERT_EQ(faces.size(), 1U) << "orientation " << o;
        const imaging::Rect& a = faces[0].boundingBox;
        const imaging::Rect& b = reference[0].boundingBox;
        EXPECT_NEAR(a.x, b.x, 0.02) << "orientation " << o;
        EXPECT_NEAR(a.y, b.y, 0.02) << "orientation " << o;
        EXPECT_NEAR(a.width, b.width, 0.02) << "orientation " << o;
        EXPECT_NEAR(a.height, b.height, 0.02) << "orientation " << o;
    }
}

TEST_F(DetectorTest, LandmarkPassKeepsTheFacesAndAddsKeypointsInsideThem) {
    const cv::Mat photo = loadDemoPhoto("astronaut.png");
    auto handler = detector_->makeHandler(bgra(photo), Orientation::up);
    const std::vector<FaceObservation> rectangles = handler->performFaceRectangles().value();
    ASSERT_EQ(rectangles.size(), 1U);
    EXPECT_TRUE(rectangles[0].landmarks.empty());

    // A face the caller knows of but this frame's pass did not find stays, untouched.
    FaceObservation stranger;
    stranger.boundingBox = {0.01, 0.01, 0.1, 0.1};
    const std::vector<FaceObservation> refined = handler->performLandmarks({rectangles[0], stranger}).value();
    ASSERT_EQ(refined.size(), 2U);
    EXPECT_EQ(refined[0].boundingBox, rectangles[0].boundingBox);
    ASSERT_EQ(refined[0].landmarks.size(), 6U);
    const imaging::Rect& box = refined[0].boundingBox;
    for (const monitor::Point& p : refined[0].landmarks) {
        EXPECT_GE(p.x, box.x - 0.05 * box.width);
        EXPECT_LE(p.x, box.maxX() + 0.05 * box.width);
        EXPECT_GE(p.y, box.y);
        EXPECT_LE(p.y, box.maxY());
    }
    // The eyes (keypoints 0 and 1) lie above the mouth (keypoint 3): y grows upwards.
    EXPECT_GT(refined[0].landmarks[0].y, refined[0].landmarks[3].y);
    EXPECT_GT(refined[0].landmarks[1].y, refined[0].landmarks[3].y);
    EXPECT_EQ(refined[1].boundingBox, stranger.boundingBox);
    EXPECT_TRUE(refined[1].landmarks.empty());
}

TEST_F(DetectorTest, LandmarkPassBeforeDetectionFails) {
    auto handler = detector_->makeHandler(bgra(loadDemoPhoto("astronaut.png")), Orientation::up);
    EXPECT_FALSE(handler->performLandmarks({}).has_value());
}

TEST_F(DetectorTest, AnEmptyFrameIsAFailureNotAnEmptyRoom) {
    auto handler = detector_->makeHandler(nullptr, Orientation::up);
    EXPECT_FALSE(handler->performFaceRectangles().has_value());
}

TEST(DetectorModelTest, AMissingModelLeavesTheDetectorUnavailable) {
    BlazeFaceDetector detector("/nonexistent/face.onnx", BlazeFaceDetector::Model::fullRange);
    EXPECT_FALSE(detector.isAvailable());
    EXPECT_NE(detector.loadError().find("/nonexistent/face.onnx"), std::string::npos);
    EXPECT_FALSE(detector.detectUpright(cv::Mat(64, 64, CV_8UC3, cv::Scalar::all(0))).has_value());
}

TEST(DetectorModelTest, ACorruptModelLeavesTheDetectorUnavailable) {
    const auto path = std::filesystem::temp_directory_path() / "tovak-corrupt-model.onnx";
    {
        std::ofstream out(path, std::ios::binary);
        out << "this is not a network";
    }
    BlazeFaceDetector detector(path.string(), BlazeFaceDetector::Model::fullRange);
    EXPECT_FALSE(detector.isAvailable());
    std::filesystem::remove(path);
}

TEST(DetectorModelTest, TheOtherModelsFileIsRejectedForItsShape) {
    // The short-range network under the full-range input size cannot be mistaken for it.
    BlazeFaceDetector detector(modelPath(false), BlazeFaceDetector::Model::fullRange);
    EXPECT_FALSE(detector.isAvailable());
}

}  // namespace
}  // namespace tovak::testing

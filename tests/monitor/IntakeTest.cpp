// Frame intake: orientation, size filter, ordering and the landmark rhythm.
#include <gtest/gtest.h>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;
using imaging::Orientation;

namespace {

struct IntakeTest : ::testing::Test {
    MonitorHarness h;
    void SetUp() override { h.startMonitoring(); }

    Orientation orientationFor(double angle, bool mirrored) {
        h.connection->angle = angle;
        h.connection->mirrored = mirrored;
        h.frame({}, 0.1);
        return h.detector->lastOrientation();
    }
    std::vector<monitor::PreviewFaceItem> previewAfter(std::vector<monitor::FaceObservation> list) {
        h.frame(std::move(list), 0.1);
        return h.monitor->previewFaceRects.get();
    }
};

}  // namespace

TEST_F(IntakeTest, OrientationFollowsTheRotationAngleAndOtherwiseTheMirroring) {
    EXPECT_EQ(orientationFor(90, true), Orientation::right);
    EXPECT_EQ(orientationFor(180, true), Orientation::down);
    EXPECT_EQ(orientationFor(270, false), Orientation::left);
    EXPECT_EQ(orientationFor(0, true), Orientation::upMirrored);
    EXPECT_EQ(orientationFor(0, false), Orientation::up);
    EXPECT_EQ(orientationFor(45, true), Orientation::upMirrored);
    EXPECT_EQ(orientationFor(90.5, false), Orientation::up);
}

TEST_F(IntakeTest, OlderSystemsNeverReadTheAngle) {
    h.osAtLeast14 = false;
    h.connection->angleReads = 0;
    EXPECT_EQ(orientationFor(90, true), Orientation::upMirrored);
    EXPECT_EQ(orientationFor(90, false), Orientation::up);
    EXPECT_EQ(h.connection->angleReads.load(), 0);
}

TEST_F(IntakeTest, FacesBelowTheAreaThresholdDoNotCount) {
    // 0.0004 stays, 0.0003 goes: a one-face frame.
    auto items = previewAfter(faces({0.0004, 0.0003}));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_NEAR(items[0].rect.area(), 0.0004, 1e-12);

    // Exactly at the threshold stays in; a zero-width box is dropped.
    monitor::FaceObservation atThreshold;
    atThreshold.boundingBox = {0.1, 0.1, 0.019, 0.00038 / 0.019};
    ASSERT_GE(atThreshold.boundingBox.area(), monitor::PrivacyMonitor::minFaceNormalizedArea);
    monitor::FaceObservation flat;
    flat.boundingBox = {0.5, 0.5, 0.0, 0.4};
    items = previewAfter({flat, atThreshold});
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].rect, atThreshold.boundingBox);
}

TEST_F(IntakeTest, FacesAreOrderedLargestFirstKeepingDetectorOrderOnTies) {
    h.frame(faces({0.01, 0.05, 0.03}), 0.1);
    auto items = h.monitor->previewFaceRects.get();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_NEAR(items[0].rect.area(), 0.05, 1e-12);
    EXPECT_NEAR(items[1].rect.area(), 0.03, 1e-12);

    // Many equal faces (enough for an unstable sort to reorder them) keep the detector's order.
    std::vector<monitor::FaceObservation> tie;
    for (int i = 0; i < 40; ++i) {
        tie.push_back(face(0.001, 0.02 * i));
    }
    tie.push_back(face(0.002, 0.9));
    items = previewAfter(tie);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].rect, tie[40].boundingBox);
    EXPECT_EQ(items[1].rect, tie[0].boundingBox);
}

TEST_F(IntakeTest, LandmarkPassRunsOnEveryThirdDetectedFrameAndNeverOnEmptyOnes) {
    // Frames 1..9; frame 6 is empty, so its pass is skipped and not made up on frame 7.
    for (int i = 1; i <= 9; ++i) {
        h.frame(i == 6 ? std::vector<monitor::FaceObservation>{} : faces({0.05}));
    }
    EXPECT_EQ(h.detector->landmarkFrames(), (std::vector<int>{3, 9}));
    EXPECT_EQ(h.state().visionFrameCounter, 9);
}

TEST_F(IntakeTest, LandmarkResultReplacesTheListOnlyWhenNotEmpty) {
    h.frames(2, faces({0.05}), 0.1);
    // Third frame: two faces found, the landmark pass returns one.
    h.scripted({faces({0.05, 0.02}), std::optional<std::vector<monitor::FaceObservation>>{faces({0.04})}}, 0.1);
    auto items = h.monitor->previewFaceRects.get();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_NEAR(items[0].rect.area(), 0.04, 1e-12);

    // Sixth frame: the pass fails, the rectangles stay.
    h.frames(2, faces({0.05}), 0.1);
    h.scripted({faces({0.05, 0.02}), std::optional<std::vector<monitor::FaceObservation>>{std::nullopt}}, 0.1);
    EXPECT_EQ(h.monitor->previewFaceRects.get().size(), 2u);
    EXPECT_EQ(h.detector->landmarkPasses(), 2);
}

TEST_F(IntakeTest, FailedDetectionCountsAsAnEmptyRoom) {
    h.frames(3, faces({0.05, 0.03}));
    ASSERT_TRUE(h.state().presenceActive);
    for (int i = 0; i < 14; ++i) {
        h.failedFrame();
    }
    EXPECT_TRUE(h.state().presenceActive);
    EXPECT_EQ(h.state().missCount, 14);
    h.failedFrame();
    EXPECT_FALSE(h.state().presenceActive);
    EXPECT_EQ(h.log.count("close:" + kDefaultTrigger), 1u);
    EXPECT_EQ(h.state().visionFrameCounter, 18);
}

TEST_F(IntakeTest, FrameWithoutImageIsSkippedEntirely) {
    h.sim.session.async([&] { h.monitor->captureOutput(nullptr, *h.connection); });
    h.sim.drain();
    EXPECT_EQ(h.state().visionFrameCounter, 0);
    EXPECT_EQ(h.detector->handlers(), 0);
}

// Frame intake: orientation, size filter, ordering, the landmark rhythm, and the throttled preview picture.
#include <gtest/gtest.h>

#include <cmath>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;
using imaging::Orientation;

namespace {

struct IntakeTest : ::testing::Test {
    MonitorHarness h;
    int publications = 0;
    void SetUp() override {
        h.start();
        h.monitor->previewImage.observe([this](const auto&) { ++publications; });
    }
    std::vector<monitor::PreviewFaceItem> previewAfter(MonitorHarness::Faces list) {
        h.frame(std::move(list), 0.1);
        return h.monitor->previewFaceRects.get();
    }
};

}  // namespace

TEST_F(IntakeTest, OrientationFollowsTheRotationAngleAndOtherwiseTheMirroring) {
    const struct {
        double angle;
        bool mirrored, newSystem;
        Orientation expected;
    } rows[] = {{90, true, true, Orientation::right},  {180, true, true, Orientation::down},
                {270, false, true, Orientation::left}, {0, true, true, Orientation::upMirrored},
                {0, false, true, Orientation::up},     {45, true, true, Orientation::upMirrored},
                {90.5, false, true, Orientation::up},  {90, true, false, Orientation::upMirrored},
                {90, false, false, Orientation::up}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.angle);
        h.osAtLeast14 = row.newSystem;
        h.connection->angle = row.angle;
        h.connection->mirrored = row.mirrored;
        const int readsBefore = h.connection->angleReads;
        h.frame({}, 0.1);
        EXPECT_EQ(h.detector->lastOrientation, row.expected);
        EXPECT_EQ(h.connection->angleReads > readsBefore, row.newSystem);  // older systems never read it
    }
}

TEST_F(IntakeTest, FacesBelowTheAreaThresholdDoNotCountTheRestAreOrderedLargestFirstAndTwoAreOutlined) {
    auto items = previewAfter(faces({0.0004, 0.0003}));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_NEAR(items[0].rect.area(), 0.0004, 1e-12);
    // Exactly 0.00038 stays in; a zero-width box is dropped.
    const auto atThreshold = faceAt({0.1, 0.1, 0.019, 0.00038 / 0.019});
    ASSERT_GE(atThreshold.boundingBox.area(), 0.00038);
    items = previewAfter({faceAt({0.5, 0.5, 0.0, 0.4}), atThreshold});
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].rect, atThreshold.boundingBox);

    items = previewAfter(faces({0.01, 0.05, 0.03}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_NEAR(items[0].rect.area(), 0.05, 1e-12);
    EXPECT_NEAR(items[1].rect.area(), 0.03, 1e-12);
    EXPECT_TRUE(items[0].isPrimary);
    EXPECT_FALSE(items[1].isPrimary);
    EXPECT_TRUE(previewAfter({}).empty());
    EXPECT_TRUE(h.monitor->previewImage.get());
    // Many equal faces (enough for an unstable sort to reorder them) keep the detector's order.
    MonitorHarness::Faces tie;
    for (int i = 0; i < 40; ++i) {
        tie.push_back(face(0.001, 0.02 * i));
    }
    tie.push_back(face(0.002, 0.9));
    items = previewAfter(tie);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].rect, tie[40].boundingBox);
    EXPECT_EQ(items[1].rect, tie[0].boundingBox);
}

TEST_F(IntakeTest, LandmarkPassRunsOnEveryThirdFrameWithFacesAndItsResultReplacesTheListWhenNotEmpty) {
    // Frame 6 is empty, so its pass is skipped and not made up on frame 7.
    for (int i = 1; i <= 9; ++i) {
        h.frame(i == 6 ? MonitorHarness::Faces{} : h.one);
    }
    EXPECT_EQ(h.detector->landmarkFrames(), (std::vector<int>{3, 9}));

    // Frame 12: two faces found, the landmark pass returns one.
    h.frames(2, h.one, 0.1);
    h.scripted({faces({0.05, 0.02}), std::optional<MonitorHarness::Faces>{faces({0.04})}}, 0.1);
    auto items = h.monitor->previewFaceRects.get();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_NEAR(items[0].rect.area(), 0.04, 1e-12);
    // Frame 15: the pass fails, the rectangles stay.
    h.frames(2, h.one, 0.1);
    h.scripted({faces({0.05, 0.02}), std::optional<MonitorHarness::Faces>{std::nullopt}}, 0.1);
    EXPECT_EQ(h.monitor->previewFaceRects.get().size(), 2u);
}

TEST_F(IntakeTest, FailedDetectionCountsAsAnEmptyRoomAndAFrameWithoutImageIsSkipped) {
    h.frames(3, h.two);
    for (int i = 0; i < 14; ++i) {
        h.scripted({std::nullopt, std::nullopt});
    }
    EXPECT_EQ(h.observer->ended, 0);
    h.scripted({std::nullopt, std::nullopt});
    EXPECT_EQ(h.observer->ended, 1);

    h.sim.session.async([&] { h.monitor->captureOutput(nullptr, *h.connection); });
    h.sim.drain();
    EXPECT_EQ(h.detector->handlers, 18);
    EXPECT_EQ(h.observer->frames, 18);
}

TEST_F(IntakeTest, PublishesAtMostEveryTwelfthOfASecondInclusive) {
    const double c = 1.0 / 12.0;
    h.frameAt(c, {});
    EXPECT_EQ(publications, 1);
    h.frameAt(std::nextafter(2 * c, 0.0), {});
    EXPECT_EQ(publications, 1);
    h.frameAt(2 * c, {});
    EXPECT_EQ(publications, 2);
    h.frames(10, {}, 0.05);  // every second one
    EXPECT_EQ(publications, 7);
    // In away mode and with an onlooker alike.
    h.setAway(true);
    h.frames(3, h.one, 0.1);
    h.frames(3, h.two, 0.1);
    EXPECT_EQ(publications, 13);
}

TEST_F(IntakeTest, PictureIsUprightAndAtMost640Wide) {
    const struct {
        int width, height;
        double angle, shownWidth, shownHeight;
    } rows[] = {{1280, 720, 0, 640, 360}, {1280, 720, 90, 640, 1280 * 640.0 / 720.0}, {320, 240, 0, 320, 240}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.angle);
        h.frameBuffer = std::make_shared<const imaging::PixelBuffer>(row.width, row.height);
        h.connection->angle = row.angle;
        h.frame({}, 0.1);
        const auto image = h.monitor->previewImage.get();
        ASSERT_TRUE(image);
        EXPECT_DOUBLE_EQ(image->width, row.shownWidth);
        EXPECT_NEAR(image->height, row.shownHeight, 1e-9);
        EXPECT_EQ(image->bitmap->width(), static_cast<int>(row.shownWidth));
    }
}

TEST_F(IntakeTest, UnusableFrameUsesUpTheSlot) {
    h.frameBuffer = std::make_shared<const imaging::PixelBuffer>(1, 1);
    h.frameAt(2000.0, h.one);
    EXPECT_EQ(publications, 0);
    h.frameBuffer = std::make_shared<const imaging::PixelBuffer>(64, 48);
    h.frameAt(2000.05, h.one);
    EXPECT_EQ(publications, 0);
    h.frameAt(2000.1, h.one);
    EXPECT_EQ(publications, 1);
}

TEST_F(IntakeTest, WhileNobodyWantsThePreviewNoneIsRenderedAndTheDecisionsGoOn) {
    h.monitor->setPreviewWanted(false);
    h.frames(3, h.two, 0.1);
    EXPECT_FALSE(h.monitor->previewImage.get());
    EXPECT_TRUE(h.monitor->previewFaceRects.get().empty());
    EXPECT_TRUE(h.pip->visible);
    h.monitor->setPreviewWanted(true);
    h.frame(h.two, 0.1);
    EXPECT_TRUE(h.monitor->previewImage.get());
}

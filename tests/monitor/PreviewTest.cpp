// The throttled preview picture and its face outlines.
#include <gtest/gtest.h>

#include <cmath>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;

namespace {

struct PreviewTest : ::testing::Test {
    MonitorHarness h;
    int publications = 0;
    void SetUp() override {
        h.start();
        h.monitor->previewImage.observe([this](const auto&) { ++publications; });
    }
    void useFrame(int width, int height) {
        h.frameBuffer = std::make_shared<const imaging::PixelBuffer>(width, height);
    }
};

}  // namespace

TEST_F(PreviewTest, PublishesAtMostEveryTwelfthOfASecondInclusive) {
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

TEST_F(PreviewTest, PictureIsUprightAndAtMost640Wide) {
    const struct {
        int width, height;
        double angle, shownWidth, shownHeight;
    } rows[] = {{1280, 720, 0, 640, 360}, {1280, 720, 90, 640, 1280 * 640.0 / 720.0}, {320, 240, 0, 320, 240}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.angle);
        useFrame(row.width, row.height);
        h.connection->angle = row.angle;
        h.frame({}, 0.1);
        const auto image = h.monitor->previewImage.get();
        ASSERT_TRUE(image);
        EXPECT_DOUBLE_EQ(image->width, row.shownWidth);
        EXPECT_NEAR(image->height, row.shownHeight, 1e-9);
        EXPECT_EQ(image->bitmap->width(), static_cast<int>(row.shownWidth));
    }
}

TEST_F(PreviewTest, AtMostTwoOutlinesTheFirstPrimaryAndAnEmptyRoomClearsThem) {
    h.frame(faces({0.02, 0.05, 0.03}), 0.1);
    const auto items = h.monitor->previewFaceRects.get();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_TRUE(items[0].isPrimary);
    EXPECT_FALSE(items[1].isPrimary);
    EXPECT_NEAR(items[0].rect.area(), 0.05, 1e-12);
    EXPECT_NEAR(items[1].rect.area(), 0.03, 1e-12);
    h.frame({}, 0.1);
    EXPECT_TRUE(h.monitor->previewFaceRects.get().empty());
    EXPECT_TRUE(h.monitor->previewImage.get());
}

TEST_F(PreviewTest, UnusableFrameUsesUpTheSlot) {
    useFrame(1, 1);
    h.frameAt(2000.0, h.one);
    EXPECT_EQ(publications, 0);
    useFrame(64, 48);
    h.frameAt(2000.05, h.one);
    EXPECT_EQ(publications, 0);
    h.frameAt(2000.1, h.one);
    EXPECT_EQ(publications, 1);
}

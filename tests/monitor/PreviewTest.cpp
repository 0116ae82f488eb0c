// The throttled preview picture and its face outlines.
#include <gtest/gtest.h>

#include <cmath>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;
using monitor::PrivacyMonitor;

namespace {

struct PreviewTest : ::testing::Test {
    MonitorHarness h;
    int publications = 0;

    void SetUp() override {
        h.startMonitoring();
        h.monitor->previewImage.observe([this](const auto&) { ++publications; });
    }
    void frameAt(double time, const std::vector<monitor::FaceObservation>& list) {
        h.sim.clock.set(time);
        h.frame(list, 0.0);
    }
    void useFrame(int width, int height) {
        h.frameBuffer = std::make_shared<const imaging::PixelBuffer>(width, height);
    }
};

}  // namespace

TEST_F(PreviewTest, FramesOneTwentiethApartPublishEverySecondOne) {
    for (int i = 0; i < 10; ++i) {
        h.frame({}, 0.05);
    }
    EXPECT_EQ(publications, 5);
}

TEST_F(PreviewTest, IntervalIsInclusive) {
    const double c = PrivacyMonitor::previewMinInterval;
    frameAt(c, {});
    ASSERT_EQ(publications, 1);
    frameAt(std::nextafter(2 * c, 0.0), {});
    EXPECT_EQ(publications, 1);
    frameAt(2 * c, {});
    EXPECT_EQ(publications, 2);
}

TEST_F(PreviewTest, PictureIsUprightAndAtMost640Wide) {
    useFrame(1280, 720);
    h.frame({}, 0.1);
    auto image = h.monitor->previewImage.get();
    ASSERT_TRUE(image);
    EXPECT_DOUBLE_EQ(image->width, 640);
    EXPECT_DOUBLE_EQ(image->height, 360);

    h.connection->angle = 90;
    h.frame({}, 0.1);
    image = h.monitor->previewImage.get();
    ASSERT_TRUE(image);
    EXPECT_DOUBLE_EQ(image->width, 640);
    EXPECT_NEAR(image->height, 1280 * 640.0 / 720.0, 1e-9);
    EXPECT_EQ(image->bitmap->width(), 640);

    h.connection->angle = 0;
    useFrame(320, 240);
    h.frame({}, 0.1);
    image = h.monitor->previewImage.get();
    ASSERT_TRUE(image);
    EXPECT_DOUBLE_EQ(image->width, 320);
    EXPECT_DOUBLE_EQ(image->height, 240);
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
    frameAt(2000.0, faces({0.05}));
    EXPECT_EQ(publications, 0);
    useFrame(64, 48);
    frameAt(2000.05, faces({0.05}));
    EXPECT_EQ(publications, 0);
    frameAt(2000.1, faces({0.05}));
    EXPECT_EQ(publications, 1);
}

TEST_F(PreviewTest, PublishesInAwayModeAndWithAnOnlookerAlike) {
    h.monitor->setAwayMode(true);
    h.frames(3, faces({0.05}), 0.1);
    h.frames(3, faces({0.05, 0.03}), 0.1);
    EXPECT_EQ(publications, 6);
}

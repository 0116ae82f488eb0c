#include <gtest/gtest.h>

#include "WindowTestSupport.h"
#include "platform/qt/QtMainQueue.h"
#include "support/QtTest.h"
#include "windows/FullscreenFaceController.h"

namespace tovak::windows {
namespace {

using testing::drainEvents;

class FullscreenWindow : public ::testing::Test {
  protected:
    std::shared_ptr<platform::QtMainQueue> main = std::make_shared<platform::QtMainQueue>();
    testing::TestScreen screen{testing::laptopScreen()};
    std::shared_ptr<FullscreenFaceController> fullscreen = FullscreenFaceController::create(main, screen.source());
    imaging::Renderer renderer;

    void update(const imaging::Rect& box = testing::redFaceBox) {
        fullscreen->update(testing::frameWithRedFace(), box, imaging::Orientation::up, 0.08, 1.55, renderer);
        drainEvents();
    }
    void show() {
        fullscreen->show();
        drainEvents();
    }
    [[nodiscard]] const QImage& picture() const { return fullscreen->imageView()->image(); }
};

TEST_F(FullscreenWindow, UpdateRendersAtTheScreensPixelSizeIntoAHiddenWindowThatShowReveals) {
    fullscreen->hide();
    drainEvents();
    EXPECT_EQ(fullscreen->window(), nullptr);  // hiding creates nothing
    update();
    ASSERT_NE(fullscreen->window(), nullptr);
    EXPECT_FALSE(fullscreen->window()->isVisible());
    EXPECT_EQ(picture().size(), QSize(3024, 1964));
    EXPECT_DOUBLE_EQ(picture().devicePixelRatio(), 2.0);
    EXPECT_EQ(picture().pixel(1512, 982), qRgb(230, 0, 0));
    EXPECT_EQ(picture().pixel(0, 982), qRgb(0, 0, 0));

    show();
    EXPECT_TRUE(fullscreen->window()->isVisible());
    EXPECT_EQ(fullscreen->window()->geometry(), QRect(0, 0, 1512, 982));
    EXPECT_EQ(fullscreen->imageView()->geometry(), QRect(0, 0, 1512, 982));
    fullscreen->hide();
    drainEvents();
    EXPECT_FALSE(fullscreen->window()->isVisible());
}

TEST_F(FullscreenWindow, ATinyScreenStillGetsSixtyFourPixelsPerAxis) {
    screen.geometry = ScreenGeometry{{0, 0, 40, 300}, {0, 0, 40, 300}, 1.0};
    show();  // the screen is read again on the GUI thread
    update();
    EXPECT_EQ(picture().size(), QSize(64, 300));
}

TEST_F(FullscreenWindow, WithoutAScreenNothingIsMadeOrShown) {
    // Rendered for the screen that was there, arriving after it went away.
    fullscreen->update(testing::frameWithRedFace(), testing::redFaceBox, imaging::Orientation::up, 0.08, 1.55,
                       renderer);
    screen.geometry.reset();
    drainEvents();
    show();
    update();
    EXPECT_EQ(fullscreen->window(), nullptr);
}

TEST_F(FullscreenWindow, FollowsTheScreenAndKeepsItsPictureWhenAFrameIsRejected) {
    show();
    update();
    const qint64 before = picture().cacheKey();
    screen.geometry = ScreenGeometry{{100, 0, 1280, 800}, {100, 0, 1280, 770}, 1.0};
    update({2.0, 2.0, 0.2, 0.2});
    EXPECT_EQ(picture().cacheKey(), before);
    update();
    EXPECT_EQ(fullscreen->window()->geometry(), QRect(100, 0, 1280, 800));
}

}  // namespace
}  // namespace tovak::windows

#include <gtest/gtest.h>

#include "QtTestEnvironment.h"
#include "WindowTestSupport.h"
#include "platform/qt/QtMainQueue.h"
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

    void updateWithRedFace() {
        fullscreen->update(testing::frameWithRedFace(), testing::redFaceBox, imaging::Orientation::up, 0.08, 1.55,
                           renderer);
    }
};

TEST_F(FullscreenWindow, HideBeforeAnythingCreatesNoWindow) {
    fullscreen->hide();
    drainEvents();
    EXPECT_EQ(fullscreen->window(), nullptr);
}

TEST_F(FullscreenWindow, ShowCoversTheWholeScreenAboveEverything) {
    fullscreen->show();
    EXPECT_EQ(fullscreen->window(), nullptr);
    drainEvents();
    QWidget* window = fullscreen->window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->geometry(), QRect(0, 0, 1512, 982));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Товак"));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::black));
}

TEST_F(FullscreenWindow, RendersAtTheScreenPixelSizeAndDrawsAtItsSize) {
    updateWithRedFace();
    drainEvents();
    ASSERT_NE(fullscreen->window(), nullptr);
    EXPECT_FALSE(fullscreen->window()->isVisible());
    const QImage& picture = fullscreen->imageView()->image();
    EXPECT_EQ(picture.size(), QSize(3024, 1964));
    EXPECT_DOUBLE_EQ(picture.devicePixelRatio(), 2.0);
    EXPECT_EQ(picture.pixel(1512, 982), qRgb(230, 0, 0));
    EXPECT_EQ(picture.pixel(0, 982), qRgb(0, 0, 0));

    fullscreen->show();
    drainEvents();
    EXPECT_TRUE(fullscreen->window()->isVisible());
    EXPECT_EQ(fullscreen->imageView()->geometry(), QRect(0, 0, 1512, 982));
}

TEST_F(FullscreenWindow, ATinyScreenStillGetsSixtyFourPixelsPerAxis) {
    screen.geometry = ScreenGeometry{{0, 0, 40, 300}, {0, 0, 40, 300}, 1.0};
    fullscreen->show();  // the screen copy follows on the GUI thread
    drainEvents();
    updateWithRedFace();
    drainEvents();
    EXPECT_EQ(fullscreen->imageView()->image().size(), QSize(64, 300));
}

TEST_F(FullscreenWindow, WithoutAScreenNothingIsMadeOrShown) {
    screen.geometry.reset();
    fullscreen->show();
    drainEvents();
    EXPECT_EQ(fullscreen->window(), nullptr);
    updateWithRedFace();
    drainEvents();
    EXPECT_EQ(fullscreen->window(), nullptr);
}

TEST_F(FullscreenWindow, APictureArrivingAfterTheScreenWentAwayIsDropped) {
    updateWithRedFace();  // rendered for the screen that was there
    screen.geometry.reset();
    drainEvents();
    EXPECT_EQ(fullscreen->window(), nullptr);
}

TEST_F(FullscreenWindow, FollowsTheScreenOnEveryShowAndUpdate) {
    fullscreen->show();
    drainEvents();
    screen.geometry = ScreenGeometry{{100, 0, 1280, 800}, {100, 0, 1280, 770}, 1.0};
    updateWithRedFace();
    drainEvents();
    EXPECT_EQ(fullscreen->window()->geometry(), QRect(100, 0, 1280, 800));
}

TEST_F(FullscreenWindow, ARejectedFrameKeepsThePreviousPicture) {
    updateWithRedFace();
    drainEvents();
    const qint64 before = fullscreen->imageView()->image().cacheKey();
    fullscreen->update(testing::frameWithRedFace(), {2.0, 2.0, 0.2, 0.2}, imaging::Orientation::up, 0.08, 1.55,
                       renderer);
    drainEvents();
    EXPECT_EQ(fullscreen->imageView()->image().cacheKey(), before);
}

TEST_F(FullscreenWindow, HideTakesTheWindowOffTheScreenAndKeepsIt) {
    fullscreen->show();
    drainEvents();
    QWidget* window = fullscreen->window();
    fullscreen->hide();
    drainEvents();
    EXPECT_EQ(fullscreen->window(), window);
    EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace tovak::windows

// The monitor driving the real panel and close-up on the offscreen platform: the wiring the
// application will use, with the camera, detector and other services faked. With
// TOVAK_SCREENSHOT_DIR set, the windows are also saved there as pip.png and fullscreen.png.
#include <gtest/gtest.h>

#include <QDir>
#include <QTest>
#include <QToolButton>

#include "WindowTestSupport.h"
#include "platform/qt/QtMainQueue.h"
#include "support/MonitorHarness.h"
#include "support/QtTest.h"
#include "windows/FullscreenFaceController.h"
#include "windows/PiPWindowController.h"

namespace tovak::windows {
namespace {

using testing::drainEvents;

void saveScreenshot(QWidget* window, const char* name) {
    const QByteArray dir = qgetenv("TOVAK_SCREENSHOT_DIR");
    if (!dir.isEmpty() && window != nullptr) {
        window->grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLatin1(name)));
    }
}

class MonitorWithWindows : public ::testing::Test {
  protected:
    std::shared_ptr<platform::QtMainQueue> qtMain = std::make_shared<platform::QtMainQueue>();
    testing::TestScreen screen{testing::laptopScreen()};
    std::shared_ptr<PiPWindowController> pip = PiPWindowController::create(qtMain, screen.source());
    std::shared_ptr<FullscreenFaceController> fullscreen = FullscreenFaceController::create(qtMain, screen.source());
    // The monitor on the simulation runtime with faked services, driving the real windows.
    testing::MonitorHarness h{[this](monitor::PrivacyMonitor::Dependencies& deps) {
        deps.pip = pip;
        deps.fullscreen = fullscreen;
    }};

    const monitor::FaceObservation user{{0.02, 0.1, 0.35, 0.45}, 0.9f, {}};
    const monitor::FaceObservation stranger{testing::redFaceBox, 0.9f, {}};

    void SetUp() override {
        h.frameBuffer = testing::frameWithRedFace();
        h.start();
        drainEvents();
    }
    void frames(int count, const std::vector<monitor::FaceObservation>& faces) {
        h.frames(count, faces, 0.1);
        drainEvents();
    }
};

TEST_F(MonitorWithWindows, AnOnlookerBringsUpThePanelUntilItsCloseButtonIsPressed) {
    frames(2, {user, stranger});
    EXPECT_EQ(pip->panel(), nullptr);
    frames(1, {user, stranger});
    ASSERT_NE(pip->panel(), nullptr);
    EXPECT_TRUE(pip->panel()->isVisible());
    const QImage& picture = pip->content()->imageView()->image();
    EXPECT_EQ(picture.pixel(picture.width() / 2, picture.height() / 2), qRgb(230, 0, 0));
    saveScreenshot(pip->panel(), "pip.png");

    QTest::mouseClick(pip->content()->closeButton(), Qt::LeftButton);
    h.sim.drain();
    drainEvents();
    EXPECT_FALSE(pip->panel()->isVisible());
}

TEST_F(MonitorWithWindows, AStrangerInAwayModeFillsTheScreen) {
    h.setAway(true);
    frames(3, {stranger});
    ASSERT_NE(fullscreen->window(), nullptr);
    EXPECT_TRUE(fullscreen->window()->isVisible());
    const QImage& picture = fullscreen->imageView()->image();
    EXPECT_EQ(picture.size(), QSize(3024, 1964));
    EXPECT_EQ(picture.pixel(1512, 982), qRgb(230, 0, 0));
    saveScreenshot(fullscreen->window(), "fullscreen.png");

    h.stop();
    drainEvents();
    EXPECT_FALSE(fullscreen->window()->isVisible());
}

}  // namespace
}  // namespace tovak::windows

// The floating panel and the full-screen close-up on the offscreen platform, alone and driven by the
// monitor (camera, detector and other services faked). With TOVAK_SCREENSHOT_DIR set, the windows
// the monitor brings up are also saved there as pip.png and fullscreen.png.
#include <gtest/gtest.h>

#include <QTest>
#include <QToolButton>
#include <opencv2/core.hpp>

#include "overlay/FullscreenFaceController.h"
#include "overlay/PiPWindowController.h"
#include "overlay/ScreenSource.h"
#include "runtime/qt/QtMainQueue.h"
#include "support/MonitorHarness.h"
#include "support/QtTest.h"

namespace tovak::overlay {
namespace {

using testing::drainEvents;
using testing::saveScreenshot;

// A 640 x 480 green frame with a red face in the box (0.4, 0.4, 0.2, 0.2).
imaging::PixelBufferPtr frameWithRedFace() {
    cv::Mat mat(480, 640, CV_8UC4, cv::Scalar(0, 160, 0, 255));
    mat(cv::Rect(256, 192, 128, 96)).setTo(cv::Scalar(0, 0, 230, 255));
    return std::make_shared<const imaging::PixelBuffer>(std::move(mat));
}
constexpr imaging::Rect redFaceBox{0.4, 0.4, 0.2, 0.2};

// Available area (0, 25, 1512, 957) seen from the top: the panel's corner is (1216, 756).
const QPoint corner(1216, 756);

class FaceWindows : public ::testing::Test {
  protected:
    std::shared_ptr<runtime::QtMainQueue> main = std::make_shared<runtime::QtMainQueue>();
    // A screen the test can change or take away: 1512 x 982 at twice the pixel density, its top 25 points a
    // menu bar. The controllers ask it on the GUI thread.
    std::optional<ScreenGeometry> screen = ScreenGeometry{{0, 0, 1512, 982}, {0, 25, 1512, 957}, 2.0};
    std::shared_ptr<PiPWindowController> pip = PiPWindowController::create(main, [this] { return screen; });
    std::shared_ptr<FullscreenFaceController> fullscreen =
        FullscreenFaceController::create(main, [this] { return screen; });
    imaging::Renderer renderer;

    void update(monitor::FacePresenter& presenter, double zoom, const imaging::Rect& box) {
        presenter.update(frameWithRedFace(), box, imaging::Orientation::up, 0.08, zoom, renderer);
        drainEvents();
    }
    void updatePip(const imaging::Rect& box = redFaceBox) { update(*pip, 1.0, box); }
    void updateFullscreen(const imaging::Rect& box = redFaceBox) { update(*fullscreen, 1.55, box); }
    void show(monitor::FacePresenter& presenter) {
        presenter.show();
        drainEvents();
    }
    [[nodiscard]] const QImage& pipPicture() const { return pip->content()->imageView()->image(); }
    [[nodiscard]] const QImage& fullscreenPicture() const { return fullscreen->imageView()->image(); }
};

TEST_F(FaceWindows, HidingCreatesNothingAndShowPutsAFloatingPanelInTheCornerThroughTheMainQueue) {
    pip->hide();
    fullscreen->hide();
    drainEvents();
    EXPECT_EQ(pip->panel(), nullptr);
    EXPECT_EQ(fullscreen->window(), nullptr);
    pip->show();
    EXPECT_EQ(pip->panel(), nullptr);
    drainEvents();
    QWidget* panel = pip->panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->geometry(), QRect(corner, QSize(280, 210)));
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Товак — панель"));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::FramelessWindowHint));
    // Not a tool window: some window managers hide those while another application is active.
    EXPECT_EQ(panel->windowType(), Qt::Window);
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
}

TEST_F(FaceWindows, PanelUpdateFillsItButNeverShowsOrHidesItAndHideKeepsThePicture) {
    updatePip();
    ASSERT_NE(pip->panel(), nullptr);
    EXPECT_FALSE(pip->panel()->isVisible());
    EXPECT_EQ(pipPicture().size(), QSize(280, 210));
    EXPECT_EQ(pipPicture().pixel(140, 105), qRgb(230, 0, 0));
    const qint64 before = pipPicture().cacheKey();
    updatePip({0.5, 0.5, 0.001, 0.001});  // a rejected frame keeps the previous picture
    EXPECT_EQ(pipPicture().cacheKey(), before);
    show(*pip);
    updatePip();
    EXPECT_TRUE(pip->panel()->isVisible());
    QWidget* panel = pip->panel();
    pip->hide();
    drainEvents();
    EXPECT_EQ(pip->panel(), panel);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(pipPicture().pixel(140, 105), qRgb(230, 0, 0));
}

TEST_F(FaceWindows, ADraggedPanelReturnsToTheCornerOnlyOnTheNextShow) {
    show(*pip);
    QWidget* view = pip->content();
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseMove(view, QPoint(60, 40));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(60, 40));
    EXPECT_EQ(pip->panel()->pos(), corner - QPoint(40, 60));
    updatePip();
    EXPECT_EQ(pip->panel()->pos(), corner - QPoint(40, 60));
    show(*pip);
    EXPECT_EQ(pip->panel()->pos(), corner);
}

TEST_F(FaceWindows, WithoutAScreenThePanelStillShowsButTheCloseUpIsNeitherMadeNorShown) {
    // The close-up was rendered for the screen that was there, arriving after it went away.
    fullscreen->update(frameWithRedFace(), redFaceBox, imaging::Orientation::up, 0.08, 1.55, renderer);
    screen.reset();
    drainEvents();
    show(*pip);
    ASSERT_NE(pip->panel(), nullptr);
    EXPECT_TRUE(pip->panel()->isVisible());
    show(*fullscreen);
    updateFullscreen();
    EXPECT_EQ(fullscreen->window(), nullptr);
}

TEST_F(FaceWindows, ThePanelsCloseButtonOnlyReportsTheClick) {
    show(*pip);
    QToolButton* close = pip->content()->closeButton();
    EXPECT_EQ(close->geometry(), QRect(280 - 26 - 4, 4, 26, 26));
    EXPECT_EQ(close->toolTip(), QStringLiteral("Закрыть окно"));
    QTest::mouseClick(close, Qt::LeftButton);  // no handler yet: nothing happens
    int closes = 0;
    pip->setOnClose([&] { ++closes; });
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(pip->panel()->isVisible());
}

TEST_F(FaceWindows, NotAPersonNamesTheFaceShownAndClosesAsTheButtonWould) {
    std::vector<imaging::Rect> ignored;
    int closes = 0;
    pip->setOnIgnore([&](const imaging::Rect& box) { ignored.push_back(box); });
    pip->setOnClose([&] { ++closes; });
    updatePip({0.3, 0.2, 0.25, 0.3});
    auto menu = pip->content()->contextMenu();
    EXPECT_EQ(menu->actions().at(0)->text(), QStringLiteral("Это не человек — не замечать"));
    menu->actions().at(0)->trigger();
    EXPECT_EQ(ignored, (std::vector<imaging::Rect>{{0.3, 0.2, 0.25, 0.3}}));
    EXPECT_EQ(closes, 1);
}

TEST_F(FaceWindows, CloseUpRendersAtTheScreensPixelSizeIntoAHiddenWindowThatShowReveals) {
    updateFullscreen();
    ASSERT_NE(fullscreen->window(), nullptr);
    EXPECT_FALSE(fullscreen->window()->isVisible());
    EXPECT_EQ(fullscreenPicture().size(), QSize(3024, 1964));
    EXPECT_DOUBLE_EQ(fullscreenPicture().devicePixelRatio(), 2.0);
    EXPECT_EQ(fullscreenPicture().pixel(1512, 982), qRgb(230, 0, 0));
    EXPECT_EQ(fullscreenPicture().pixel(0, 982), qRgb(0, 0, 0));

    show(*fullscreen);
    EXPECT_TRUE(fullscreen->window()->isVisible());
    EXPECT_EQ(fullscreen->window()->geometry(), QRect(0, 0, 1512, 982));
    EXPECT_EQ(fullscreen->imageView()->geometry(), QRect(0, 0, 1512, 982));
    fullscreen->hide();
    drainEvents();
    EXPECT_FALSE(fullscreen->window()->isVisible());
}

TEST_F(FaceWindows, CloseUpFollowsTheScreenAndKeepsItsPictureWhenAFrameIsRejected) {
    show(*fullscreen);
    updateFullscreen();
    const qint64 before = fullscreenPicture().cacheKey();
    screen = ScreenGeometry{{100, 0, 1280, 800}, {100, 0, 1280, 770}, 1.0};
    updateFullscreen({2.0, 2.0, 0.2, 0.2});
    EXPECT_EQ(fullscreenPicture().cacheKey(), before);
    updateFullscreen();
    EXPECT_EQ(fullscreen->window()->geometry(), QRect(100, 0, 1280, 800));
}

// A desktop that lists Tovak's panel only from a given request to pin it on, counting the requests.
class LateDesktop final : public trigger::WindowControl {
  public:
    int listedFrom = 1, asked = 0;
    Outcome before = Outcome::noWindow;
    [[nodiscard]] std::string name() const override { return "late"; }
    [[nodiscard]] std::optional<int> countWindowsTitled(const std::string&) override { return 0; }
    Outcome raiseWindowsTitled(const std::string&) override { return Outcome::noWindow; }
    Outcome closeWindowsTitled(const std::string&) override { return Outcome::noWindow; }
    Outcome placePanel(const std::string&, const trigger::DesktopRect& where) override {
        placed = where;
        return ++asked >= listedFrom ? Outcome::done : before;
    }
    std::optional<trigger::DesktopRect> active, placed;
    [[nodiscard]] std::optional<trigger::DesktopRect> activeScreen() override { return active; }
};

// With two screens, the close-up and the panel (pinned there by the desktop) go to the active window's screen.
TEST_F(FaceWindows, ThePanelAndTheCloseUpGoToTheScreenOfTheActiveWindow) {
    if (QGuiApplication::screens().size() != 2) {
        GTEST_SKIP() << "needs two screens (ctest runs it as test_overlay_two_screens)";
    }
    auto desktop = std::make_shared<LateDesktop>();
    desktop->active = trigger::DesktopRect{1500, 100, 400, 300};
    const auto session = SessionWindows::create(desktop, main, main);
    auto panel = PiPWindowController::create(main, primaryScreen(), session);
    auto closeUp = FullscreenFaceController::create(main, primaryScreen(), session);
    show(*panel);
    show(*closeUp);
    EXPECT_EQ(desktop->placed, (trigger::DesktopRect{2008, 542, 280, 210}));
    EXPECT_EQ(closeUp->window()->geometry(), QRect(1280, 0, 1024, 768));
}

// A compositor lists a window a moment after the toolkit shows it: the desktop is asked again, ten times a
// second for two seconds at most, until it pins the panel; one that has no way to pin it is asked once.
TEST_F(FaceWindows, TheDesktopIsAskedToPinThePanelAgainUntilItListsIt) {
    const struct Row {
        const char* name;
        int listedFrom;
        trigger::WindowControl::Outcome before;
        int asked;
    } rows[] = {{"listed at the third request", 3, trigger::WindowControl::Outcome::noWindow, 3},
                {"never listed", 1000, trigger::WindowControl::Outcome::noWindow, 20},
                {"no way to pin", 1000, trigger::WindowControl::Outcome::unsupported, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto desktop = std::make_shared<LateDesktop>();
        desktop->listedFrom = row.listedFrom, desktop->before = row.before;
        auto pinned = PiPWindowController::create(main, primaryScreen(), SessionWindows::create(desktop, main, main));
        show(*pinned);
        EXPECT_TRUE(QTest::qWaitFor([&] { return desktop->asked >= row.asked; }, 10000));
        QTest::qWait(500);
        EXPECT_EQ(desktop->asked, row.asked);
    }
}

class MonitorWithWindows : public FaceWindows {
  protected:
    testing::MonitorHarness h{[this](monitor::Ports& deps) {
        deps.pip = pip;
        deps.fullscreen = fullscreen;
    }};
    const monitor::FaceObservation user{{0.02, 0.1, 0.35, 0.45}, 0.9f, {}};
    const monitor::FaceObservation stranger{redFaceBox, 0.9f, {}};

    void SetUp() override {
        h.frameBuffer = frameWithRedFace();
        h.start();
        drainEvents();
    }
    void frames(int count, const std::vector<monitor::FaceObservation>& faces) {
        h.frames(count, faces, 0.1);
        drainEvents();
    }
};

TEST_F(MonitorWithWindows, AnOnlookerBringsUpThePanelUntilItsCloseButtonIsPressed) {
    frames(3, {user, stranger});
    ASSERT_NE(pip->panel(), nullptr);
    EXPECT_TRUE(pip->panel()->isVisible());
    EXPECT_EQ(pipPicture().pixel(pipPicture().width() / 2, pipPicture().height() / 2), qRgb(230, 0, 0));
    saveScreenshot(pip->panel(), "pip");

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
    EXPECT_EQ(fullscreenPicture().pixel(1512, 982), qRgb(230, 0, 0));
    saveScreenshot(fullscreen->window(), "fullscreen");
}

}  // namespace
}  // namespace tovak::overlay

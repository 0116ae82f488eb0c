#include <gtest/gtest.h>

#include <QToolButton>

#include "QtTestEnvironment.h"
#include "WindowTestSupport.h"
#include "platform/qt/QtMainQueue.h"
#include "windows/PiPWindowController.h"

namespace tovak::windows {
namespace {

using testing::drainEvents;

class PiPWindow : public ::testing::Test {
  protected:
    std::shared_ptr<platform::QtMainQueue> main = std::make_shared<platform::QtMainQueue>();
    testing::TestScreen screen{testing::laptopScreen()};
    std::shared_ptr<PiPWindowController> pip = PiPWindowController::create(main, screen.source());
    imaging::Renderer renderer;

    void updateWithRedFace() {
        pip->update(testing::frameWithRedFace(), testing::redFaceBox, imaging::Orientation::up, 0.08, 1.0, renderer);
    }
    [[nodiscard]] QRgb pictureCentre() const {
        const QImage& image = pip->content()->imageView()->image();
        return image.pixel(image.width() / 2, image.height() / 2);
    }
};

TEST_F(PiPWindow, HideBeforeAnythingCreatesNoPanel) {
    pip->hide();
    drainEvents();
    EXPECT_EQ(pip->panel(), nullptr);
}

TEST_F(PiPWindow, ShowWorksOnlyThroughTheMainQueue) {
    pip->show();
    EXPECT_EQ(pip->panel(), nullptr);
    drainEvents();
    ASSERT_NE(pip->panel(), nullptr);
    EXPECT_TRUE(pip->panel()->isVisible());
}

TEST_F(PiPWindow, IsAFramelessFloatingPanelThatDoesNotTakeFocus) {
    pip->show();
    drainEvents();
    QWidget* panel = pip->panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Товак"));
    EXPECT_EQ(panel->size(), QSize(280, 210));
    const Qt::WindowFlags flags = panel->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
}

TEST_F(PiPWindow, ShowPlacesThePanelInTheLowerRightCornerOfTheAvailableArea) {
    pip->show();
    drainEvents();
    // Available (0, 25, 1512, 957) from the top: right edge 1512, bottom edge 982.
    EXPECT_EQ(pip->panel()->geometry(), QRect(1216, 756, 280, 210));
}

TEST_F(PiPWindow, UpdateBeforeShowFillsAHiddenPanelThatShowThenReveals) {
    updateWithRedFace();
    drainEvents();
    ASSERT_NE(pip->panel(), nullptr);
    EXPECT_FALSE(pip->panel()->isVisible());
    const QImage& picture = pip->content()->imageView()->image();
    EXPECT_EQ(picture.size(), QSize(280, 210));
    EXPECT_EQ(pictureCentre(), qRgb(230, 0, 0));

    pip->show();
    drainEvents();
    EXPECT_TRUE(pip->panel()->isVisible());
    EXPECT_EQ(pictureCentre(), qRgb(230, 0, 0));
}

TEST_F(PiPWindow, UpdateNeverShowsOrHides) {
    updateWithRedFace();
    drainEvents();
    EXPECT_FALSE(pip->panel()->isVisible());
    pip->show();
    drainEvents();
    updateWithRedFace();
    drainEvents();
    EXPECT_TRUE(pip->panel()->isVisible());
}

TEST_F(PiPWindow, HideKeepsThePanelAndItsPicture) {
    updateWithRedFace();
    pip->show();
    drainEvents();
    QWidget* panel = pip->panel();
    pip->hide();
    drainEvents();
    EXPECT_EQ(pip->panel(), panel);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(pictureCentre(), qRgb(230, 0, 0));
}

TEST_F(PiPWindow, ARejectedFrameKeepsThePreviousPicture) {
    updateWithRedFace();
    drainEvents();
    const qint64 before = pip->content()->imageView()->image().cacheKey();
    pip->update(testing::frameWithRedFace(), {0.5, 0.5, 0.001, 0.001}, imaging::Orientation::up, 0.0, 1.0, renderer);
    drainEvents();
    EXPECT_EQ(pip->content()->imageView()->image().cacheKey(), before);
}

TEST_F(PiPWindow, ADraggedPanelReturnsToTheCornerOnlyOnTheNextShow) {
    pip->show();
    drainEvents();
    QWidget* view = pip->content();
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseMove(view, QPoint(60, 40));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(60, 40));
    EXPECT_EQ(pip->panel()->pos(), QPoint(1216 - 40, 756 - 60));

    updateWithRedFace();
    drainEvents();
    EXPECT_EQ(pip->panel()->pos(), QPoint(1216 - 40, 756 - 60));

    pip->show();
    drainEvents();
    EXPECT_EQ(pip->panel()->pos(), QPoint(1216, 756));
}

TEST_F(PiPWindow, WithoutAScreenTheShownPanelKeepsItsPlace) {
    screen.geometry.reset();
    pip->show();
    drainEvents();
    ASSERT_NE(pip->panel(), nullptr);
    EXPECT_TRUE(pip->panel()->isVisible());
}

TEST_F(PiPWindow, HasABorderlessCloseButtonInTheTopRightCorner) {
    pip->show();
    drainEvents();
    QToolButton* close = pip->content()->closeButton();
    EXPECT_EQ(close->geometry(), QRect(280 - 26 - 4, 4, 26, 26));
    EXPECT_EQ(close->text(), QStringLiteral("×"));
    EXPECT_EQ(close->toolTip(), QStringLiteral("Закрыть окно"));
    EXPECT_TRUE(close->font().bold());
    EXPECT_TRUE(close->autoRaise());
}

TEST_F(PiPWindow, TheCloseButtonOnlyReportsTheClick) {
    int closes = 0;
    pip->setOnClose([&] { ++closes; });
    pip->show();
    drainEvents();
    QTest::mouseClick(pip->content()->closeButton(), Qt::LeftButton);
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(pip->panel()->isVisible());
}

TEST_F(PiPWindow, TheCloseButtonDoesNothingWithoutAHandler) {
    pip->show();
    drainEvents();
    QTest::mouseClick(pip->content()->closeButton(), Qt::LeftButton);
    EXPECT_TRUE(pip->panel()->isVisible());
}

TEST_F(PiPWindow, WorkPostedForAControllerThatIsGoneDoesNothing) {
    pip->show();
    pip.reset();
    drainEvents();  // must not touch the destroyed controller
    SUCCEED();
}

}  // namespace
}  // namespace tovak::windows

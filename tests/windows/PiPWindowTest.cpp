#include <gtest/gtest.h>

#include <QTest>
#include <QToolButton>

#include "WindowTestSupport.h"
#include "platform/qt/QtMainQueue.h"
#include "support/QtTest.h"
#include "windows/PiPWindowController.h"

namespace tovak::windows {
namespace {

using testing::drainEvents;

// Available area (0, 25, 1512, 957) seen from the top: the panel's corner is (1216, 756).
const QPoint corner(1216, 756);

class PiPWindow : public ::testing::Test {
  protected:
    std::shared_ptr<platform::QtMainQueue> main = std::make_shared<platform::QtMainQueue>();
    testing::TestScreen screen{testing::laptopScreen()};
    std::shared_ptr<PiPWindowController> pip = PiPWindowController::create(main, screen.source());
    imaging::Renderer renderer;

    void update(const imaging::Rect& box = testing::redFaceBox) {
        pip->update(testing::frameWithRedFace(), box, imaging::Orientation::up, 0.08, 1.0, renderer);
        drainEvents();
    }
    void show() {
        pip->show();
        drainEvents();
    }
    [[nodiscard]] const QImage& picture() const { return pip->content()->imageView()->image(); }
};

TEST_F(PiPWindow, ShowPutsAFloatingPanelInTheCornerThroughTheMainQueue) {
    pip->hide();
    drainEvents();
    EXPECT_EQ(pip->panel(), nullptr);  // hiding creates nothing
    pip->show();
    EXPECT_EQ(pip->panel(), nullptr);
    drainEvents();
    QWidget* panel = pip->panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->geometry(), QRect(corner, QSize(280, 210)));
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Товак"));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
}

TEST_F(PiPWindow, UpdateFillsThePanelButNeverShowsOrHidesItAndHideKeepsThePicture) {
    update();
    ASSERT_NE(pip->panel(), nullptr);
    EXPECT_FALSE(pip->panel()->isVisible());
    EXPECT_EQ(picture().size(), QSize(280, 210));
    EXPECT_EQ(picture().pixel(140, 105), qRgb(230, 0, 0));
    const qint64 before = picture().cacheKey();
    update({0.5, 0.5, 0.001, 0.001});  // a rejected frame keeps the previous picture
    EXPECT_EQ(picture().cacheKey(), before);
    show();
    update();
    EXPECT_TRUE(pip->panel()->isVisible());
    QWidget* panel = pip->panel();
    pip->hide();
    drainEvents();
    EXPECT_EQ(pip->panel(), panel);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(picture().pixel(140, 105), qRgb(230, 0, 0));
}

TEST_F(PiPWindow, ADraggedPanelReturnsToTheCornerOnlyOnTheNextShow) {
    show();
    QWidget* view = pip->content();
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseMove(view, QPoint(60, 40));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(60, 40));
    EXPECT_EQ(pip->panel()->pos(), corner - QPoint(40, 60));
    update();
    EXPECT_EQ(pip->panel()->pos(), corner - QPoint(40, 60));
    show();
    EXPECT_EQ(pip->panel()->pos(), corner);
}

TEST_F(PiPWindow, WithoutAScreenShowStillShowsThePanel) {
    screen.geometry.reset();
    show();
    ASSERT_NE(pip->panel(), nullptr);
    EXPECT_TRUE(pip->panel()->isVisible());
}

TEST_F(PiPWindow, TheCloseButtonOnlyReportsTheClick) {
    show();
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

TEST_F(PiPWindow, NotAPersonNamesTheFaceShownAndClosesAsTheButtonWould) {
    std::vector<imaging::Rect> ignored;
    int closes = 0;
    pip->setOnIgnore([&](const imaging::Rect& box) { ignored.push_back(box); });
    pip->setOnClose([&] { ++closes; });
    update({0.3, 0.2, 0.25, 0.3});
    auto menu = pip->content()->contextMenu();
    EXPECT_EQ(menu->actions().at(0)->text(), QStringLiteral("Это не человек — не замечать"));
    menu->actions().at(0)->trigger();
    EXPECT_EQ(ignored, (std::vector<imaging::Rect>{{0.3, 0.2, 0.25, 0.3}}));
    EXPECT_EQ(closes, 1);
}

}  // namespace
}  // namespace tovak::windows

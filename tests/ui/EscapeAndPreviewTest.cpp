// The Escape monitor and the preview's geometry and drawing, on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "app/AwayEscMonitor.h"
#include "app/CameraPreviewView.h"
#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;
using app::AwayEscMonitor;
using app::CameraPreviewView;

namespace {

// Records the keys that reach it.
class KeyRecorder final : public QLineEdit {
  public:
    int escapes = 0;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            ++escapes;
        }
        QLineEdit::keyPressEvent(event);
    }
};

}  // namespace

TEST(AwayEscMonitor, InstalledOnlyWhileAwayConsumesEscapeWithAnyModifiersAndPassesOtherKeys) {
    KeyRecorder target;
    target.show();
    int calls = 0;
    auto monitor = std::make_unique<AwayEscMonitor>();
    monitor->sync(false, [&] { ++calls; });
    QTest::keyClick(&target, Qt::Key_Escape);
    EXPECT_EQ(target.escapes, 1);
    EXPECT_EQ(calls, 0);

    monitor->sync(true, [&] { ++calls; });
    monitor->sync(true, [&] { calls += 100; });  // already installed: keeps the first action
    QTest::keyClick(&target, Qt::Key_Escape);
    QTest::keyClick(&target, Qt::Key_Escape, Qt::ControlModifier);
    QTest::keyClick(&target, Qt::Key_Return);
    QTest::keyClicks(&target, "q");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(target.escapes, 1);
    EXPECT_EQ(target.text(), "q");

    monitor->sync(false, {});
    QTest::keyClick(&target, Qt::Key_Escape);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(target.escapes, 2);

    // Destroyed while installed: the filter goes with it.
    monitor->sync(true, [&] { ++calls; });
    monitor.reset();
    QTest::keyClick(&target, Qt::Key_Escape);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(target.escapes, 3);
}

TEST(CameraPreviewGeometry, OutlinesAreFlippedAndScaledToTheWholeBoxAndThePictureIsFitted) {
    const QSizeF view(480, 360);
    EXPECT_EQ(CameraPreviewView::outlineRect({0.25, 0.5, 0.5, 0.25}, view), QRectF(120, 90, 240, 90));
    EXPECT_DOUBLE_EQ(CameraPreviewView::outlineRect({0.1, 0.0, 0.2, 0.3}, view).bottom(), 360);
    EXPECT_NEAR(CameraPreviewView::outlineRect({0.1, 0.7, 0.2, 0.3}, view).top(), 0, 1e-9);
    EXPECT_LT(CameraPreviewView::outlineRect({-0.1, 0.95, 0.2, 0.2}, QSizeF(100, 100)).left(), 0);  // no clamping
    EXPECT_EQ(CameraPreviewView::fittedRect(QSizeF(640, 360), view), QRectF(0, 45, 480, 270));
}

struct CameraPreviewTest : ::testing::Test {
    MonitorHarness h;
    CameraPreviewView view{*h.monitor};

    void SetUp() override { view.resize(480, 360); }
    void faces(std::vector<monitor::PreviewFaceItem> rects) {
        h.monitor->previewFaceRects.set(std::move(rects));
        QCoreApplication::processEvents();
    }
    // A white 4:3 picture.
    void showWhitePicture() {
        auto bitmap = std::make_shared<imaging::PixelBuffer>(64, 48);
        bitmap->mutableMat().setTo(cv::Scalar(255, 255, 255, 255));
        h.monitor->previewImage.set(imaging::Image{bitmap, 64, 48});
        QCoreApplication::processEvents();
    }
};

TEST_F(CameraPreviewTest, DrawsThePictureWithGreenAndOrangeOutlinesOrThePlaceholder) {
    faces({{{0.1, 0.1, 0.3, 0.3}, true}, {{0.6, 0.5, 0.3, 0.3}, false}});
    // Outlines are not drawn without a picture.
    EXPECT_TRUE(view.showsPlaceholder());
    EXPECT_NE(view.grab().toImage().pixelColor(48, 216).rgb(), qRgb(52, 199, 89));

    showWhitePicture();
    ASSERT_FALSE(view.showsPlaceholder());
    const QImage shot = view.grab().toImage();
    // Left edge of the primary outline (x 0.1 of 480 = 48) at mid-height of its box.
    const QColor primary = shot.pixelColor(48, static_cast<int>((1 - 0.1 - 0.15) * 360));
    const QColor other = shot.pixelColor(static_cast<int>(0.6 * 480), static_cast<int>((1 - 0.5 - 0.15) * 360));
    EXPECT_EQ(primary.rgb(), qRgb(52, 199, 89));
    EXPECT_EQ(other.rgb(), qRgb(255, 149, 0));
    EXPECT_EQ(shot.pixelColor(240, 20).rgb(), QColor(Qt::white).rgb());

    h.monitor->previewImage.set(std::nullopt);
    QCoreApplication::processEvents();
    EXPECT_TRUE(view.showsPlaceholder());
}

TEST_F(CameraPreviewTest, MarkedFacesAreDashedGreyAndTheMenuMarksAndForgetsThem) {
    const imaging::Rect onlooker{0.5, 0.5, 0.25, 0.25};
    faces({{{0.1, 0.1, 0.3, 0.3}, true}, {onlooker, false}});
    showWhitePicture();
    // (300, 130) is inside the orange outline (240..360, 90..180).
    auto menu = view.contextMenuAt({300, 130});
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Не замечать это лицо");
    EXPECT_FALSE(menu->actions()[1]->isEnabled());
    menu->actions()[0]->trigger();
    EXPECT_EQ(h.monitor->ignoredFaces.get(), std::vector<imaging::Rect>{onlooker});

    // The region's top edge, y 90 from 240 to 360: grey dashes with gaps.
    faces({});
    const QImage shot = view.grab().toImage();
    int grey = 0;
    for (int x = 240; x < 360; ++x) {
        grey += shot.pixelColor(x, 90).rgb() == CameraPreviewView::ignoredColour().rgb() ? 1 : 0;
    }
    EXPECT_GT(grey, 40);
    EXPECT_LT(grey, 110);

    menu = view.contextMenuAt({300, 130});
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Снова замечать все лица");
    EXPECT_TRUE(menu->actions()[0]->isEnabled());
    menu->actions()[0]->trigger();
    EXPECT_TRUE(h.monitor->ignoredFaces.get().empty());
}

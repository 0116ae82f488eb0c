// The whole window application on the demo camera: the panel before and after "Старт", the live
// preview with its outlines and the floating panel once the onlooker is confirmed. Screenshots go
// to TOVAK_SCREENSHOT_DIR for a person to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>

#include "app/TovakApp.h"
#include "support/QtTest.h"

using namespace tovak;
using tovak::testing::saveScreenshot;

namespace {

app::Options demo() {
    return *app::parseCommandLine({"--camera", "demo", "--lock", "dry-run"}).options;
}

QWidget* panel() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && top->windowTitle() == "Товак — панель" && top->size() == QSize(280, 210)) {
            return top;
        }
    }
    return nullptr;
}

}  // namespace

TEST(DemoWindow, StartShowsTheCameraThePreviewAndThePanelForTheOnlooker) {
    std::string error;
    app::TovakApp application(demo(), error);
    ASSERT_TRUE(error.empty()) << error;
    QMainWindow& window = application.showMainWindow();
    window.resize(520, 640);
    QTest::qWait(50);
    auto& monitor = application.monitor();
    saveScreenshot(&window, "1-before-start");

    QTest::mouseClick(window.findChild<QPushButton*>("startButton"), Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return monitor.isRunning.get() && monitor.previewImage.get().has_value(); }, 10000));
    EXPECT_EQ(monitor.statusLine.get(), "● Демо-камера");

    // The onlooker steps in 8 s into the scene; two outlines and the floating panel follow.
    ASSERT_TRUE(QTest::qWaitFor([&] { return monitor.previewFaceRects.get().size() == 2; }, 15000));
    ASSERT_TRUE(QTest::qWaitFor([] { return panel() != nullptr; }, 5000));
    QTest::qWait(300);
    saveScreenshot(&window, "2-onlooker");
    saveScreenshot(panel(), "3-panel");
    // The least the window allows, wider, and about a maximised one.
    for (const QSize size : {QSize(1, 1), QSize(900, 640), QSize(1440, 900)}) {
        window.resize(size);
        QTest::qWait(300);
        saveScreenshot(&window, QString("4-onlooker-%1x%2").arg(window.width()).arg(window.height()));
    }
    QTest::mouseClick(window.findChild<QPushButton*>("stopButton"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !monitor.isRunning.get(); }, 5000));
}

TEST(SingleInstance, ASecondStartShowsTheFirstInstancesWindowAgain) {
    qputenv("TOVAK_INSTANCE_NAME", QByteArray("tovak-test-") + QByteArray::number(QCoreApplication::applicationPid()));
    EXPECT_FALSE(app::TovakApp::askRunningInstanceToShow());
    std::string error;
    app::TovakApp first(demo(), error);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_TRUE(first.listenForOtherInstances());
    first.showMainWindow().close();  // closing the window keeps the application and its monitor
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.mainWindow() == nullptr; }, 2000));

    EXPECT_TRUE(app::TovakApp::askRunningInstanceToShow());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return first.mainWindow() != nullptr && first.mainWindow()->isVisible(); }, 3000));
    EXPECT_EQ(first.monitor().statusLine.get(), "Готов");
}

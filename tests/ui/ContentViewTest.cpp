// The control panel on the offscreen platform, driven by a monitor on the simulation runtime.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/AwayEscMonitor.h"
#include "app/ContentView.h"
#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;
using app::ContentView;

namespace {

struct ContentViewTest : ::testing::Test {
    MonitorHarness h;
    int shown = 0;
    std::unique_ptr<ContentView> view;

    void SetUp() override {
        view = std::make_unique<ContentView>(*h.monitor, [this] { ++shown; });
        view->resize(420, 560);
        view->show();
        settle();
    }
    // Runs the engine's queues and the widgets' queued rebuilds until both are quiet.
    void settle() {
        for (int i = 0; i < 3; ++i) {
            h.sim.drain();
            QCoreApplication::processEvents();
        }
    }
    QPushButton* button(const char* name) { return view->findChild<QPushButton*>(name); }
    app::ElidedLabel* label(const char* name) { return view->findChild<app::ElidedLabel*>(name); }
    void click(const char* name) {
        QTest::mouseClick(button(name), Qt::LeftButton);
        settle();
    }
};

}  // namespace

TEST_F(ContentViewTest, StartsReadyWithTheSummaryStartEnabledAndTheHint) {
    EXPECT_EQ(label("statusLine")->text(), "Готов");
    EXPECT_EQ(label("triggerSummary")->text(), "По умолчанию");
    EXPECT_EQ(button("awayButton")->text(), "Отошёл");
    EXPECT_EQ(button("awayButton")->toolTip(),
              "Без лица в кадре 10 с — режим включается сам. Одно лицо — крупный план "
              "~1 с и блокировка. Два лица — файл и PiP.");
    EXPECT_TRUE(button("startButton")->isEnabled());
    EXPECT_FALSE(button("stopButton")->isEnabled());
    EXPECT_EQ(button("resetButton")->toolTip(), "Триггер по умолчанию");
    EXPECT_EQ(shown, 1);
    EXPECT_GE(view->minimumSize().width(), 320);
    EXPECT_GE(view->minimumSize().height(), 400);
}

TEST_F(ContentViewTest, StartAndStopFollowTheRunningStateAndCallTheirOperations) {
    click("startButton");
    EXPECT_TRUE(h.monitor->isRunning.get());
    EXPECT_FALSE(button("startButton")->isEnabled());
    EXPECT_TRUE(button("stopButton")->isEnabled());
    EXPECT_EQ(label("statusLine")->text(), "● Test Camera");
    click("stopButton");
    EXPECT_FALSE(h.monitor->isRunning.get());
    EXPECT_TRUE(button("startButton")->isEnabled());
    EXPECT_FALSE(button("stopButton")->isEnabled());
    EXPECT_EQ(label("statusLine")->text(), "Стоп");
}

TEST_F(ContentViewTest, AwayButtonWorksBeforeStartAndFollowsAwayMode) {
    click("awayButton");
    EXPECT_TRUE(h.state().awayModeProcess);
    EXPECT_EQ(button("awayButton")->text(), "На месте");
    EXPECT_TRUE(button("awayButton")->toolTip().isEmpty());
    EXPECT_FALSE(button("awayButton")->styleSheet().isEmpty());
    EXPECT_TRUE(view->escapeMonitor().isInstalled());
    click("awayButton");
    EXPECT_FALSE(h.state().awayModeProcess);
    EXPECT_EQ(button("awayButton")->text(), "Отошёл");
    EXPECT_FALSE(view->escapeMonitor().isInstalled());

    // A change made elsewhere (auto-away) flips the button too.
    h.monitor->setAwayMode(true);
    settle();
    EXPECT_EQ(button("awayButton")->text(), "На месте");
}

TEST_F(ContentViewTest, FileButtonsPickAndReset) {
    click("pickButton");
    h.services->addFile("/tmp/Отчёт.xlsx");
    h.choose("/tmp/Отчёт.xlsx");
    settle();
    EXPECT_EQ(label("triggerSummary")->text(), "Отчёт.xlsx");
    click("resetButton");
    EXPECT_FALSE(h.services->string("ruzered.triggerFilePath"));
    EXPECT_EQ(label("triggerSummary")->text(), "По умолчанию");
}

TEST_F(ContentViewTest, LongTextsStayOnOneLineWithinTheirLimits) {
    const std::string longStatus =
        "Начало очень длинной строки состояния, которая никак не помещается в заголовок — конец";
    h.monitor->statusLine.set(longStatus);
    const std::string longName = std::string(80, 'x') + ".xlsx";
    h.services->addFile("/d/" + longName);
    click("pickButton");
    h.choose("/d/" + longName);
    view->resize(420, 600);
    settle();

    auto* status = label("statusLine");
    const QString shownStatus = status->shownText();
    EXPECT_TRUE(shownStatus.contains(QChar(0x2026)));
    EXPECT_TRUE(shownStatus.startsWith("Начало"));
    EXPECT_TRUE(shownStatus.endsWith("конец"));

    // However wide the window, the summary's block stays within its limit.
    view->resize(1200, 600);
    settle();
    auto* summary = label("triggerSummary");
    EXPECT_LE(view->findChild<QWidget*>("summaryBlock")->width(), 200);
    EXPECT_TRUE(summary->shownText().endsWith(QChar(0x2026)));
    EXPECT_NEAR(summary->shownPointSize(), summary->font().pointSizeF() * 0.75, 0.01);
}

TEST_F(ContentViewTest, EscapeLeavesAwayModeOnlyWhileItIsOn) {
    QLineEdit edit;
    edit.show();
    QTest::keyClick(&edit, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(h.state().awayModeProcess);
    click("awayButton");
    ASSERT_TRUE(view->escapeMonitor().isInstalled());
    QTest::keyClick(&edit, Qt::Key_Escape, Qt::ShiftModifier);
    settle();
    EXPECT_FALSE(h.state().awayModeProcess);
    EXPECT_FALSE(view->escapeMonitor().isInstalled());
}

TEST_F(ContentViewTest, PreviewStartsAtTheColumnsLeadingEdgeAndTheSummaryIsDimmed) {
    // A wide window too short for the whole preview: the placeholder starts at the 16-point padding,
    // like every other row.
    view->resize(1000, 420);
    settle();
    const QImage shot = view->grab().toImage();
    const int row = view->findChild<QWidget*>("cameraPreview")->geometry().center().y();
    int left = 0;
    while (left < shot.width() && shot.pixel(left, row) == shot.pixel(0, row)) {
        ++left;
    }
    EXPECT_EQ(left, 16);

    // The summary (secondary) is drawn dimmer than the title (primary), brighter than the status line.
    const auto alpha = [&](const char* name) {
        const auto* label = view->findChild<QWidget*>(name);
        return label->palette().color(label->foregroundRole()).alphaF();
    };
    EXPECT_LT(alpha("triggerSummary"), alpha("title") - 0.1);
    EXPECT_GT(alpha("triggerSummary"), alpha("statusLine") + 0.1);
}

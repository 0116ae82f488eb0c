// The control panel, the tray icon, the Escape monitor, the preview, the file chooser and starting at
// login, on the offscreen platform; the panel and the tray driven by a monitor on the simulation runtime.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <map>
#include <tuple>

#include "app/Autostart.h"
#include "app/AwayEscMonitor.h"
#include "app/CameraChooser.h"
#include "app/CameraPreviewView.h"
#include "app/ContentView.h"
#include "app/QtTranslations.h"
#include "app/StatusTray.h"
#include "app/TovakApp.h"
#include "camera/FakeCameras.h"
#include "support/MonitorHarness.h"
#include "support/QtTest.h"
#include "trigger/qt/QtFileChooser.h"

using namespace tovak;
using namespace tovak::testing;
using app::AwayEscMonitor;
using app::CameraPreviewView;
using app::ContentView;

namespace {

// Pause end times are shown in local time; the simulation's calendar reads 10:00 UTC.
void useUtc() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
}

struct ContentViewTest : ::testing::Test {
    MonitorHarness h;
    int shown = 0;
    std::unique_ptr<ContentView> view = std::make_unique<ContentView>(*h.monitor, [this] { ++shown; });

    void SetUp() override {
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
    EXPECT_GE(view->minimumSizeHint().width(), 320);
    EXPECT_GE(view->minimumSizeHint().height(), 400);
}

TEST_F(ContentViewTest, StartAndStopFollowTheRunningStateAndCallTheirOperations) {
    for (const auto& [name, running] : {std::pair{"startButton", true}, std::pair{"stopButton", false}}) {
        SCOPED_TRACE(name);
        click(name);
        EXPECT_EQ(h.monitor->isRunning.get(), running);
        EXPECT_EQ(button("startButton")->isEnabled(), !running);
        EXPECT_EQ(button("stopButton")->isEnabled(), running);
    }
}

// What the desktop asks of the user stays readable while watching: a line of its own, and the tooltip.
TEST_F(ContentViewTest, TheDesktopsNoticeOutlivesTheStartInALineOfItsOwnAndInTheTooltip) {
    app::StatusTray tray{*h.monitor, [] {}};
    auto* notice = view->findChild<QLabel*>("desktopNotice");
    EXPECT_FALSE(notice->isVisible());
    const QString asked = "Управление окнами GNOME заработает после повторного входа";
    h.monitor->desktopNotice.set(asked.toStdString());
    click("startButton");
    EXPECT_TRUE(notice->isVisible() && notice->text() == asked);
    EXPECT_EQ(tray.icon().toolTip(), "Товак — ● Test Camera\n" + asked);
}

TEST_F(ContentViewTest, PauseOffersAQuarterOrAnHourAndContinueOrStartEndIt) {
    useUtc();
    EXPECT_EQ(button("pauseButton")->text(), "Пауза");
    EXPECT_FALSE(button("pauseButton")->isEnabled());  // nothing to pause before "Старт"
    click("startButton");
    struct Row {
        const char* name;
        int entry;
        double seconds;
        const char* status;
        const char* endedBy;
    };
    for (const Row& row : {Row{"a quarter, ended by Продолжить", 0, 900, "Пауза до 10:15", "pauseButton"},
                           Row{"an hour, ended by Старт", 1, 3600, "Пауза до 11:00", "startButton"}}) {
        SCOPED_TRACE(row.name);
        QMenu* menu = button("pauseButton")->menu();
        ASSERT_TRUE(button("pauseButton")->isEnabled() && menu != nullptr && menu->actions().size() == 2);
        EXPECT_EQ(menu->actions()[0]->text(), "На 15 минут");
        EXPECT_EQ(menu->actions()[1]->text(), "На час");
        const double now = h.sim.wall.now();
        menu->actions()[row.entry]->trigger();
        settle();
        ASSERT_TRUE(h.monitor->pausedUntil.get().has_value());
        EXPECT_DOUBLE_EQ(*h.monitor->pausedUntil.get() - now, row.seconds);
        EXPECT_EQ(label("statusLine")->text(), row.status);
        EXPECT_EQ(button("pauseButton")->text(), "Продолжить");
        EXPECT_EQ(button("pauseButton")->menu(), nullptr);
        EXPECT_TRUE(button("startButton")->isEnabled() && button("stopButton")->isEnabled());

        click(row.endedBy);
        EXPECT_FALSE(h.monitor->pausedUntil.get().has_value());
        EXPECT_TRUE(h.monitor->isRunning.get());
        EXPECT_EQ(button("pauseButton")->text(), "Пауза");
        EXPECT_FALSE(button("startButton")->isEnabled());
    }
}

TEST_F(ContentViewTest, AwayButtonWorksBeforeStartFollowsAwayModeAndEscapeWithAModifierLeavesIt) {
    click("awayButton");
    EXPECT_TRUE(h.monitor->awayMode.get());
    EXPECT_EQ(button("awayButton")->text(), "На месте");
    EXPECT_TRUE(button("awayButton")->toolTip().isEmpty());
    EXPECT_FALSE(button("awayButton")->styleSheet().isEmpty());
    EXPECT_TRUE(view->escapeMonitor().isInstalled());
    QLineEdit edit;
    edit.show();
    QTest::keyClick(&edit, Qt::Key_Escape, Qt::ShiftModifier);
    settle();
    EXPECT_FALSE(h.monitor->awayMode.get());
    EXPECT_EQ(button("awayButton")->text(), "Отошёл");
    EXPECT_FALSE(view->escapeMonitor().isInstalled());

    // A change made elsewhere (auto-away) flips the button too.
    h.monitor->setAwayMode(true);
    settle();
    EXPECT_EQ(button("awayButton")->text(), "На месте");
    click("awayButton");
    EXPECT_FALSE(h.monitor->awayMode.get());

    // A press does what the label says, whatever arrived before the label could follow: switching
    // away mode on hides the panel, off the close-up.
    for (const auto& [label, on] : {std::pair{"Отошёл", true}, std::pair{"На месте", false}}) {
        ASSERT_EQ(button("awayButton")->text(), label);
        h.setAway(on);
        const int hides = (on ? h.pip : h.fullscreen)->hides;
        button("awayButton")->click();
        settle();
        EXPECT_EQ((on ? h.pip : h.fullscreen)->hides, hides + 1) << label;
        EXPECT_EQ(h.monitor->awayMode.get(), on) << label;
    }
}

// "Блокировать, когда я ухожу": off until ticked, then at the delay beside it; a choice made in the tray
// shows here too.
TEST_F(ContentViewTest, TheLockOnLeavingIsOffUntilTickedAndFollowsTheChosenDelay) {
    auto* box = view->findChild<QCheckBox*>("lockOnLeave");
    auto* delays = view->findChild<QComboBox*>("leaveDelay");
    EXPECT_EQ(box->text(), "Блокировать, когда я ухожу");
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(delays->isEnabled());
    ASSERT_EQ(delays->count(), 3);
    EXPECT_EQ((std::vector{delays->itemText(0), delays->itemText(1), delays->itemText(2)}),
              (std::vector<QString>{"сразу", "через 30 с", "через 2 мин"}));
    box->click();
    settle();
    EXPECT_EQ(h.monitor->lockOnLeaveSeconds.get(), 0.0);
    delays->setCurrentIndex(2);
    Q_EMIT delays->activated(2);
    settle();
    EXPECT_EQ(h.monitor->lockOnLeaveSeconds.get(), 120.0);
    box->click();
    settle();
    EXPECT_FALSE(h.monitor->lockOnLeaveSeconds.get());
    EXPECT_EQ(delays->currentText(), "через 2 мин") << "ticking again brings it back";
    h.monitor->setLockOnLeave(45.0);
    settle();
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(delays->currentText(), "через 45 с");
}

TEST_F(ContentViewTest, FileButtonsPickAndReset) {
    click("pickButton");
    h.services->addFile("/tmp/Отчёт.xlsx");
    h.choose("/tmp/Отчёт.xlsx");
    settle();
    EXPECT_EQ(label("triggerSummary")->text(), "Отчёт.xlsx");
    click("resetButton");
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

    const QString shownStatus = label("statusLine")->shownText();
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

TEST_F(ContentViewTest, PreviewStartsAtTheColumnsLeadingEdgeAndTheSummaryIsDimmed) {
    // A wide window: the preview's box starts at the 16-point padding, like every other row.
    view->resize(1000, 420);
    settle();
    EXPECT_EQ(view->findChild<QWidget*>("cameraPreview")->x(), 16);

    // The summary (secondary) is drawn dimmer than the title (primary), brighter than the status line.
    const auto alpha = [&](const char* name) {
        const auto* label = view->findChild<QWidget*>(name);
        return label->palette().color(label->foregroundRole()).alphaF();
    };
    EXPECT_LT(alpha("triggerSummary"), alpha("title") - 0.1);
    EXPECT_GT(alpha("triggerSummary"), alpha("statusLine") + 0.1);
}

struct StatusTrayTest : ::testing::Test {
    MonitorHarness h;
    int toggles = 0;
    app::StatusTray tray{*h.monitor, [this] { ++toggles; }};

    void settle() {
        for (int i = 0; i < 3; ++i) {
            h.sim.drain();
            QCoreApplication::processEvents();
        }
    }
    QAction* entry(const char* name) { return tray.menu().findChild<QAction*>(name); }
    void trigger(const char* name) {
        entry(name)->trigger();
        settle();
    }
};

TEST_F(StatusTrayTest, TheIconTooltipAndMenuFollowTheMonitorAndALeftClickTogglesTheWindow) {
    useUtc();
    using State = app::StatusTray::State;
    struct Row {
        const char* name;
        const char* entryTriggered;
        State state;
        const char* tooltip;
        const char* startStop;
        bool pausesOffered;
        bool continueOffered;
    };
    const Row rows[] = {
        {"before the start", nullptr, State::stopped, "Товак — Готов", "Старт", false, false},
        {"started", "trayStartStop", State::watching, "Товак — ● Test Camera", "Стоп", true, false},
        {"paused for a quarter", "trayPauseShort", State::paused, "Товак — Пауза до 10:15", "Стоп", true, true},
        {"paused for an hour instead", "trayPauseLong", State::paused, "Товак — Пауза до 11:00", "Стоп", true, true},
        {"continued", "trayResume", State::watching, "Товак — ● Test Camera", "Стоп", true, false},
        {"stopped", "trayStartStop", State::stopped, "Товак — Стоп", "Старт", false, false},
    };
    std::map<State, QImage> pictures;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.entryTriggered != nullptr) {
            trigger(row.entryTriggered);
        }
        EXPECT_EQ(tray.state(), row.state);
        EXPECT_EQ(tray.icon().toolTip().toStdString(), row.tooltip);
        EXPECT_EQ(entry("trayStartStop")->text(), row.startStop);
        EXPECT_EQ(entry("trayPauseShort")->isEnabled(), row.pausesOffered);
        EXPECT_EQ(entry("trayPauseLong")->isEnabled(), row.pausesOffered);
        EXPECT_EQ(entry("trayResume")->isVisible(), row.continueOffered);
        pictures[row.state] = tray.icon().icon().pixmap(32, 32).toImage();
    }
    if (const QString dir = qEnvironmentVariable("TOVAK_SCREENSHOT_DIR"); !dir.isEmpty()) {
        QDir().mkpath(dir);
        for (const auto& [state, picture] : pictures) {
            picture.save(QString("%1/tray-%2.png").arg(dir).arg(static_cast<int>(state)));
        }
    }
    EXPECT_EQ(entry("trayPauseShort")->text(), "Пауза на 15 минут");
    EXPECT_EQ(entry("trayPauseLong")->text(), "Пауза на час");
    EXPECT_EQ(entry("trayResume")->text(), "Продолжить");
    // Three states, three different pictures.
    ASSERT_EQ(pictures.size(), 3u);
    EXPECT_NE(pictures[State::watching], pictures[State::paused]);
    EXPECT_NE(pictures[State::watching], pictures[State::stopped]);
    EXPECT_NE(pictures[State::paused], pictures[State::stopped]);

    for (const bool away : {true, false}) {
        trigger("trayAway");
        EXPECT_EQ(h.monitor->awayMode.get(), away);
        EXPECT_EQ(entry("trayAway")->text(), away ? "На месте" : "Отошёл");
    }
    h.setAway(true);  // the entry still reads "Отошёл": on again, which hides the panel
    const int hides = h.pip->hides;
    trigger("trayAway");
    EXPECT_EQ(h.pip->hides, hides + 1);
    QMenu* leave = tray.menu().findChild<QMenu*>("trayLockOnLeave");
    EXPECT_EQ(leave->title(), "Блокировать, когда я ухожу");
    for (const auto& [text, seconds] : {std::pair{"Через 2 мин", std::optional(120.0)},
                                        {"Сразу", std::optional(0.0)},
                                        {"Через 30 с", std::optional(30.0)},
                                        {"Нет", std::optional<double>()}}) {
        QList<QAction*> entries = leave->actions();
        const auto it = std::find_if(entries.begin(), entries.end(), [&](QAction* a) { return a->text() == text; });
        ASSERT_NE(it, entries.end()) << text;
        (*it)->trigger();
        settle();
        EXPECT_EQ(h.monitor->lockOnLeaveSeconds.get(), seconds) << text;
        entries = leave->actions();
        EXPECT_EQ(entries.size(), 4);
        for (QAction* entry : entries) {
            EXPECT_EQ(entry->isChecked(), entry->text() == text) << entry->text().toStdString();
        }
    }
    Q_EMIT tray.icon().activated(QSystemTrayIcon::Context);
    Q_EMIT tray.icon().activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(toggles, 1);
}

TEST(AwayEscMonitor, InstalledOnlyWhileAwayConsumesEscapeWithAnyModifiersAndPassesOtherKeys) {
    KeyRecorder target;
    target.show();
    int calls = 0;
    auto monitor = std::make_unique<AwayEscMonitor>();
    // The actions called and the escapes that reached the target, after one more Escape.
    const auto escape = [&](Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&target, Qt::Key_Escape, modifiers);
        return std::pair(calls, target.escapes);
    };
    monitor->sync(false, [&] { ++calls; });
    EXPECT_EQ(escape(), std::pair(0, 1));

    monitor->sync(true, [&] { ++calls; });
    monitor->sync(true, [&] { calls += 100; });  // already installed: keeps the first action
    EXPECT_EQ(escape(), std::pair(1, 1));
    EXPECT_EQ(escape(Qt::ControlModifier), std::pair(2, 1));
    QTest::keyClick(&target, Qt::Key_Return);
    QTest::keyClicks(&target, "q");
    EXPECT_EQ(target.text(), "q");

    monitor->sync(false, {});
    EXPECT_EQ(escape(), std::pair(2, 2));

    // Destroyed while installed: the filter goes with it.
    monitor->sync(true, [&] { ++calls; });
    monitor.reset();
    EXPECT_EQ(escape(), std::pair(2, 3));
}

TEST(CameraPreviewGeometry, OutlinesAreFlippedAndScaledToTheWholeBoxAndThePictureIsFitted) {
    const QSizeF view(480, 360);
    EXPECT_EQ(CameraPreviewView::outlineRect({0.25, 0.5, 0.5, 0.25}, view), QRectF(120, 90, 240, 90));
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
    // A white picture, 4:3 unless told.
    void showWhitePicture(double width = 64, double height = 48) {
        auto bitmap = std::make_shared<imaging::PixelBuffer>(static_cast<int>(width), static_cast<int>(height));
        bitmap->mutableMat().setTo(cv::Scalar(255, 255, 255, 255));
        h.monitor->previewImage.set(imaging::Image{bitmap, width, height});
        QCoreApplication::processEvents();
    }
};

TEST_F(CameraPreviewTest, ThePictureIsFittedCentredIntoABoxOfAtMost480x360AndTheOutlinesLieOnIt) {
    // The user's face on the middle of a white 2:1 picture, another's over its upper right quarter.
    faces({{{0.25, 0.25, 0.5, 0.5}, true}, {{0.5, 0.5, 0.25, 0.25}, false}});
    EXPECT_TRUE(view.showsPlaceholder()) << "no outline without a picture";
    EXPECT_NE(view.grab().toImage().pixel(120, 180), qRgb(52, 199, 89));
    showWhitePicture(64, 32);
    const struct Row {
        QSize asked, box;
        QRect picture;
        QPoint bar;  // a point of the box the picture leaves uncovered
    } rows[] = {
        {{480, 360}, {480, 360}, {0, 60, 480, 240}, {240, 30}},
        {{900, 700}, {480, 360}, {0, 60, 480, 240}, {240, 330}},
        {{240, 360}, {240, 360}, {0, 120, 240, 120}, {120, 60}},
        {{480, 200}, {480, 200}, {40, 0, 400, 200}, {20, 100}},
    };
    const int ground = qGray(view.palette().color(QPalette::Window).rgb());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.box.width());
        view.resize(row.asked);
        ASSERT_EQ(view.size(), row.box);
        const QImage shot = view.grab().toImage();
        const QRect& p = row.picture;
        EXPECT_EQ(shot.pixel(p.x() + p.width() * 3 / 8, p.center().y()), qRgb(255, 255, 255));
        EXPECT_NEAR(qGray(shot.pixel(row.bar)), ground * 0.8, 3) << "black at 20 %";
        // The user's left edge a quarter into the picture; the other's top edge, drawn over the user's.
        EXPECT_EQ(shot.pixel(p.x() + p.width() / 4, p.center().y()), qRgb(52, 199, 89));
        EXPECT_EQ(shot.pixel(p.x() + p.width() * 5 / 8, p.y() + p.height() / 4), qRgb(255, 149, 0));
    }
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
    menu->actions()[0]->trigger();
    EXPECT_TRUE(h.monitor->ignoredFaces.get().empty());
}

TEST_F(CameraPreviewTest, TheUsersOwnFaceIsNeverOfferedAsScenery) {
    // The user's (green, 48..192 x 216..324) and another face over it, drawn on top (orange).
    faces({{{0.1, 0.1, 0.3, 0.3}, true}, {{0.25, 0.15, 0.1, 0.1}, false}});
    showWhitePicture();
    for (const auto& [name, point, offered] : {std::tuple{"the user's own", QPointF(70, 300), false},
                                               std::tuple{"the other, over the user's", QPointF(144, 288), true}}) {
        SCOPED_TRACE(name);
        auto menu = view.contextMenuAt(point);
        ASSERT_EQ(menu->actions().size(), offered ? 2 : 1);
        EXPECT_EQ(menu->actions().back()->text(), "Снова замечать все лица");
    }
}

TEST(CameraChooser, TheMenuOffersColourCamerasByNameAndKeepsTheChoiceByIdentity) {
    MonitorHarness h;
    FakeNode twin = kWebcam;
    twin.bus = "usb-0000:00:14.0-3";
    const auto nodes = std::make_shared<Nodes>(
        Nodes{{"/dev/video0", kBuiltIn}, {"/dev/video2", kInfrared}, {"/dev/video4", kWebcam}, {"/dev/video6", twin}});
    const auto session = std::make_shared<camera::V4L2CameraSession>(fakeSystemOn(nodes));
    app::CameraChooser chooser(session, h.services, {}, nullptr);
    ContentView view(*h.monitor, {});
    view.setCameraMenu(chooser.makeMenu(&view));
    QMenu* menu = view.findChild<QToolButton*>("cameraButton")->menu();
    const auto entries = [&] {
        Q_EMIT menu->aboutToShow();
        QStringList shown;
        for (const QAction* action : menu->actions()) {
            shown << (action->isChecked() ? "✓ " : "") + action->text() + (action->isEnabled() ? "" : " —");
        }
        return shown.join("|").toStdString();
    };
    EXPECT_EQ(entries(),
              "✓ Автоматически||Integrated C|HD Pro Webcam C920 (/dev/video4)|HD Pro Webcam C920 (/dev/video6)");
    menu->actions().last()->trigger();
    EXPECT_EQ(h.services->string("tovak.camera"), "HD Pro Webcam C920 @ usb-0000:00:14.0-3");
    EXPECT_EQ(session->defaultVideoDevice()->id, "/dev/video6");
    nodes->erase("/dev/video6");
    EXPECT_EQ(entries(), "Автоматически||Integrated C|HD Pro Webcam C920|✓ Выбранная камера не подключена —");

    // The next start takes the kept choice, unless the command line names another.
    const auto next = std::make_shared<camera::V4L2CameraSession>(fakeSystemOn(nodes));
    app::CameraChooser kept(next, h.services, {}, nullptr);
    EXPECT_TRUE(next->choice() == session->choice());
    app::CameraChooser named(next, h.services, {camera::CameraChoice::By::name, "integrated c"}, nullptr);
    EXPECT_EQ(next->choice().value, "integrated c");
    menu->actions().first()->trigger();
    EXPECT_FALSE(h.services->string("tovak.camera"));
    EXPECT_EQ(session->defaultVideoDevice()->id, "/dev/video0");
}

TEST(Autostart, TheMenuEntryWritesAndRemovesTheLoginEntryAndFollowsTheFile) {
    QTemporaryDir config;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QFile file(config.path() + "/autostart/org.tovak.Tovak.desktop");
    QMenu menu;
    int failures = 0;
    QAction* entry = app::Autostart("/opt/Мои программы/tovak").addMenuEntry(menu, [&] { ++failures; });
    EXPECT_EQ(entry->text(), "Запускать при входе");
    EXPECT_TRUE(entry->isCheckable() && !entry->isChecked());

    entry->trigger();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    EXPECT_TRUE(text.contains("\nExec=\"/opt/Мои программы/tovak\" --start --hidden\n")) << text.toStdString();
    EXPECT_TRUE(entry->isChecked());
    entry->trigger();
    EXPECT_FALSE(file.exists() || entry->isChecked());

    // The mark shows what is on disk when the menu opens, whoever changed it.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    Q_EMIT menu.aboutToShow();
    EXPECT_TRUE(entry->isChecked());

    // A folder that cannot be made is reported, and the mark stays off.
    ASSERT_TRUE(QDir(config.path() + "/autostart").removeRecursively() &&
                QFile(config.path() + "/autostart").open(QIODevice::WriteOnly));
    Q_EMIT menu.aboutToShow();
    entry->trigger();
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(entry->isChecked());
    qputenv("XDG_CONFIG_HOME", previous);
    EXPECT_EQ(app::Autostart::execProgram("/usr/bin/tovak"), "/usr/bin/tovak");
    EXPECT_EQ(app::Autostart::execProgram(R"(/opt/a$b\c%d/tovak)"), R"("/opt/a\\$b\\\\c%%d/tovak")");
}

TEST(Autostart, AHiddenStartWithoutATrayStillShowsTheWindowAndStartsMonitoring) {
    EXPECT_NE(app::usageText().find("\n  --start "), std::string::npos);
    EXPECT_NE(app::usageText().find("\n  --hidden "), std::string::npos);
    const app::Options options =
        *app::parseCommandLine({"--camera", "demo", "--lock", "dry-run", "--start", "--hidden"}).options;
    std::string error;
    app::TovakApp application(options, error);
    ASSERT_TRUE(error.empty()) << error;
    application.open(options);
    // The offscreen platform has no tray.
    ASSERT_TRUE(application.mainWindow() != nullptr && application.mainWindow()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return application.monitor().statusLine.get() != "Готов"; }, 10000));
}

TEST_F(ContentViewTest, ThePreviewIsRenderedOnlyWhileItsViewCanBeSeen) {
    click("startButton");
    const auto preview = [&] { return h.monitor->previewImage.get().has_value(); };
    h.frame(h.one, 0.1);
    ASSERT_TRUE(preview());
    view->hide();
    settle();
    h.monitor->previewImage.set(std::nullopt);
    h.frames(3, h.one, 0.1);
    EXPECT_FALSE(preview());
    view->show();
    settle();
    h.frame(h.one, 0.1);
    EXPECT_TRUE(preview());
    view.reset();
    h.monitor->previewImage.set(std::nullopt);
    h.frame(h.one, 0.1);
    EXPECT_FALSE(preview()) << "no window, no preview";
}

TEST(FileChooser, SpeaksRussianAndOpensInTheDecoysFolderElseInTheDocuments) {
    ASSERT_TRUE(app::installQtTranslations()) << "qtbase_ru.qm is missing (Debian: qt6-translations-l10n)";
    QTemporaryDir home;
    const QByteArray previousHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    ASSERT_TRUE(QDir(home.path()).mkpath("Documents/Отчёты"));
    const std::string decoy = (home.path() + "/Documents/Отчёты/Сводка.xlsx").toStdString();
    struct Row {
        const char* name;
        std::optional<std::string> current;
        QString folder;
    };
    const Row rows[] = {
        {"the decoy's folder", decoy, home.path() + "/Documents/Отчёты"},
        {"a decoy whose folder is gone", "/nonexistent/Сводка.csv", home.path() + "/Documents"},
        {"no decoy of the user's", std::nullopt, home.path() + "/Documents"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        trigger::QtFileChooser chooser(nullptr, [&] { return row.current; });
        chooser.chooseTriggerFile([](std::optional<std::string>) {});
        QFileDialog* dialog = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == trigger::QtFileChooser::dialogObjectName && top->isVisible()) {
                dialog = qobject_cast<QFileDialog*>(top);
            }
        }
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->directory().absolutePath(), row.folder);
        QStringList texts;
        for (const auto* button : dialog->findChildren<QPushButton*>()) {
            texts << button->text();
        }
        for (const auto* label : dialog->findChildren<QLabel*>()) {
            texts << label->text();
        }
        for (const char* russian : {"&Открыть", "Отмена", "Перейти к:", "&Имя файла:", "Типы файлов:"}) {
            EXPECT_TRUE(texts.contains(QString::fromUtf8(russian)))
                << russian << " in " << texts.join('|').toStdString();
        }
        tovak::testing::saveScreenshot(dialog, "file-chooser");
        dialog->reject();
        QCoreApplication::processEvents();
    }
    QDir(home.path() + "/Documents").removeRecursively();
    EXPECT_EQ(trigger::QtFileChooser::startFolder(std::nullopt), home.path());
    qputenv("HOME", previousHome);
}

// Room for a button's icon, text and menu arrow inside its padding, as Qt lays its label out.
bool labelFits(QPushButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    option.features = button->menu() != nullptr ? QStyleOptionButton::HasMenu : QStyleOptionButton::None;
    const int room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
    int needed = button->fontMetrics().horizontalAdvance(button->text());
    if (!button->icon().isNull()) {
        needed += button->iconSize().width() + 4;
    }
    if (button->menu() != nullptr) {
        needed += button->style()->pixelMetric(QStyle::PM_MenuButtonIndicator, &option, button);
    }
    return button->width() >= button->sizeHint().width() && room >= needed;
}

TEST(WindowLayout, NoButtonTextIsCutAtThreeSizesOrWithALargerFontAndThePreviewGrowsBelowTheHeaderToItsBox) {
    const QFont systemFont = QApplication::font();
    for (const double scale : {1.0, 1.5}) {
        QFont font = systemFont;
        font.setPointSizeF(systemFont.pointSizeF() * scale);
        QApplication::setFont(font);
        MonitorHarness h;
        QMainWindow window;
        auto* view = new ContentView(*h.monitor, {}, &window);
        window.setCentralWidget(view);
        window.show();
        const auto settle = [&] {
            for (int i = 0; i < 3; ++i) {
                h.sim.drain();
                QCoreApplication::processEvents();
            }
        };
        h.start();
        int previousPreviewHeight = 0;
        // The least the window allows, the size it opens at, wider, and about a maximised one.
        for (const QSize size : {QSize(1, 1), window.size(), QSize(900, 640), QSize(1440, 900)}) {
            window.resize(size);
            settle();
            const QString name = QString("window-%1x-%2x%3").arg(scale).arg(window.width()).arg(window.height());
            SCOPED_TRACE(name.toStdString());
            // Watching, away ("На месте" on orange), paused ("Продолжить").
            for (const char* state : {"", "-away", "-paused"}) {
                h.monitor->setAwayMode(state == std::string("-away"));
                if (state == std::string("-paused")) {
                    h.monitor->pauseFor(900);
                }
                settle();
                for (auto* button : view->findChildren<QPushButton*>()) {
                    EXPECT_TRUE(labelFits(button)) << button->text().toStdString() << " in " << button->width();
                }
                tovak::testing::saveScreenshot(&window, name + state);
            }
            h.monitor->resume();
            // The header keeps to the top; the preview takes the height the window gains, up to its box.
            EXPECT_EQ(view->findChild<QWidget*>("title")->y(), 16);
            const QSize preview = view->findChild<QWidget*>("cameraPreview")->size();
            EXPECT_TRUE(preview.width() <= 480 && preview.height() <= 360);
            EXPECT_GE(preview.height(), std::min(previousPreviewHeight + 1, 360));
            previousPreviewHeight = preview.height();
        }
    }
    QApplication::setFont(systemFont);
}

TEST_F(ContentViewTest, WhatTheAdministratorDecidedIsGreyedOutWithItsReasonInTheWindowAndTheTray) {
    click("startButton");
    app::StatusTray tray{*h.monitor, [] {}};
    const app::AdminLocks locks{[](const std::string& key) { return key == "tovak.lockOnLeaveSeconds"; }, 900};
    view->setAdminLocks(locks);
    tray.setAdminLocks(locks);
    settle();
    QMenu* pauses = button("pauseButton")->menu();
    ASSERT_NE(pauses, nullptr);
    // Enabled, and whether the tooltip gives the administrator as the reason.
    const auto seen = [](auto* control) {
        return std::pair(control->isEnabled(), control->toolTip() == QStringLiteral("Задано администратором"));
    };
    const struct Row {
        const char* name;
        std::pair<bool, bool> seen;
        bool enabled;
    } rows[] = {
        {"the lock on leave", seen(view->findChild<QCheckBox*>("lockOnLeave")), false},
        {"its delay", seen(view->findChild<QComboBox*>("leaveDelay")), false},
        {"a quarter's pause, within 15 min", seen(pauses->actions()[0]), true},
        {"an hour's pause", seen(pauses->actions()[1]), false},
        {"the tray's lock on leave", seen(tray.menu().findChild<QMenu*>("trayLockOnLeave")->menuAction()), false},
        {"the tray's quarter", seen(tray.menu().findChild<QAction*>("trayPauseShort")), true},
        {"the tray's hour", seen(tray.menu().findChild<QAction*>("trayPauseLong")), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.seen, std::pair(row.enabled, !row.enabled));
    }
}

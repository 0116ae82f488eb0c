// "Пока вас не было" and "Журнал" on the offscreen platform, driven by a monitor on the simulation
// runtime with the real close-up and panel: when the summary comes (only after a visit, never on a
// locked screen), what the journal window lists and keeps, and that only a visitor's face is kept.
// With TOVAK_SCREENSHOT_DIR set, both windows are saved there as away-summary.png and journal.png.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/IncidentRow.h"
#include "app/JournalController.h"
#include "overlay/FullscreenFaceController.h"
#include "overlay/PiPWindowController.h"
#include "support/MonitorHarness.h"
#include "support/QtTest.h"
#include "support/TempDir.h"
#include "system/DataDirectory.h"

using namespace tovak;
using namespace tovak::testing;
using app::IncidentRow;

namespace {

namespace fs = std::filesystem;

// The astronaut of the demo photographs, and where her face is (normalised, origin lower left).
imaging::PixelBufferPtr astronaut() {
    const QImage photo =
        QImage(QString::fromStdString(system::dataFile("demo/astronaut.png"))).convertToFormat(QImage::Format_ARGB32);
    if (photo.isNull()) {
        return std::make_shared<const imaging::PixelBuffer>(512, 512);
    }
    cv::Mat pixels(photo.height(), photo.width(), CV_8UC4);
    for (int y = 0; y < photo.height(); ++y) {
        std::memcpy(pixels.ptr(y), photo.constScanLine(y), static_cast<std::size_t>(photo.width()) * 4);
    }
    return std::make_shared<const imaging::PixelBuffer>(std::move(pixels));
}
const MonitorHarness::Faces kVisitor = {faceAt({0.33, 0.58, 0.24, 0.30})};
const MonitorHarness::Faces kUserAndOnlooker = {faceAt({0.33, 0.58, 0.24, 0.30}), faceAt({0.72, 0.62, 0.12, 0.14})};

// Counts the times the summary window came on screen, however briefly.
struct SummaryShows final : QObject {
    int count = 0;
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show && object->objectName() == "awaySummaryWindow") {
            ++count;
        }
        return false;
    }
};

// The desk: a monitor with the journal wired in as the application wires it, the state folder in a
// temporary folder, the calendar at 2026-12-07 10:00:00 UTC when the test starts.
struct Desk {
    TempDir dir;
    std::optional<overlay::ScreenGeometry> screen = overlay::ScreenGeometry{{0, 0, 1280, 720}, {0, 0, 1280, 720}, 1.0};
    std::shared_ptr<FakeLockWatcher> watcher = std::make_shared<FakeLockWatcher>();
    std::unique_ptr<app::JournalController> journal;
    MonitorHarness h;
    std::vector<std::string> statuses;
    SummaryShows summaryShows;

    // settings: what the user chose before (FakeServices is the settings store).
    explicit Desk(const std::function<void(FakeServices&, const TempDir&)>& before = {})
        : h([&](monitor::Ports& deps) {
              ::setenv("TZ", "UTC", 1);
              ::tzset();
              deps.lockWatcher = watcher;
              const overlay::ScreenSource screens = [this] { return screen; };
              deps.pip = overlay::PiPWindowController::create(deps.mainQueue, screens);
              deps.fullscreen = overlay::FullscreenFaceController::create(deps.mainQueue, screens);
              if (before) {
                  before(dynamic_cast<FakeServices&>(*deps.settings), dir);
              }
              journal = std::make_unique<app::JournalController>(deps.mainQueue, deps.wallClock, deps.settings,
                                                                 (dir.path() / "state").string());
              journal->wire(deps);
          }) {
        h.monitor->statusLine.observe([this](const std::string& text) { statuses.push_back(text); });
        journal->attach(*h.monitor);
        qApp->installEventFilter(&summaryShows);
        h.frameBuffer = astronaut();
        h.start();
        settle();
    }
    ~Desk() {
        qApp->removeEventFilter(&summaryShows);
        h.stop();
        settle();
        journal.reset();
        settle();
    }
    void settle() {
        for (int i = 0; i < 3; ++i) {
            h.sim.drain();
            QCoreApplication::processEvents();
        }
    }
    void at(double time) { h.sim.advance(time - h.sim.clock.now()); }
    void locked(bool on) {
        watcher->onChange(on);
        settle();
    }
    void away(bool on) {
        h.setAway(on);
        settle();
    }
    // Somebody at the machine from `from`, confirmed three frames later, gone at `to` (and fifteen
    // frames more): locked a second after the confirmation.
    void visit(double from, double to) {
        at(from);
        h.frames(3, kVisitor, 0.25);
        while (h.sim.clock.now() + 0.25 <= to) {
            h.frame(kVisitor, 0.25);
        }
        h.frames(15, {}, 0.25);
        settle();
    }
    void onlooker(double from, double to) {
        at(from);
        while (h.sim.clock.now() + 0.25 <= to) {
            h.frame(kUserAndOnlooker, 0.25);
        }
        h.frames(15, kVisitor, 0.25);
        settle();
    }
    [[nodiscard]] QWidget* summary() const {
        QWidget* window = journal->summaryWindow();
        return window != nullptr && window->isVisible() ? window : nullptr;
    }
    [[nodiscard]] std::size_t pictureFiles() const {
        std::size_t count = 0;
        if (fs::exists(dir.path() / "state")) {
            for (const auto& entry : fs::directory_iterator(dir.path() / "state")) {
                count += entry.path().extension() == ".png" ? 1 : 0;
            }
        }
        return count;
    }
};

// "10:00  Кто-то у компьютера" / "5 с · экран заблокирован" of every row, top to bottom.
std::vector<std::string> rowTexts(QWidget* window) {
    std::vector<std::string> texts;
    for (const IncidentRow* row : window->findChildren<IncidentRow*>()) {
        texts.push_back(row->findChild<QLabel*>("incidentTitle")->text().toStdString() + " / " +
                        row->findChild<QLabel*>("incidentDetails")->text().toStdString());
    }
    return texts;
}

}  // namespace

TEST(AwaySummaryTest, OnlyAfterAVisitAndNeverOnALockedScreen) {
    struct Row {
        const char* name;
        std::function<void(Desk&)> beforeTheEnd;
        std::function<void(Desk&)> end;
        bool shown;
    };
    const Row rows[] = {
        {"away and back, nobody came", [](Desk&) {}, [](Desk& d) { d.away(false); }, false},
        {"a visit, then На месте", [](Desk& d) { d.visit(1010.0, 1012.0); }, [](Desk& d) { d.away(false); }, true},
        {"a visit, then Стоп", [](Desk& d) { d.visit(1010.0, 1012.0); },
         [](Desk& d) {
             d.h.stop();
             d.settle();
         },
         true},
        {"a visit, and the unlock ends away mode", [](Desk& d) { d.visit(1010.0, 1012.0); },
         [](Desk& d) {
             d.locked(true);
             EXPECT_EQ(d.summaryShows.count, 0) << "nothing on a locked screen";
             d.locked(false);
         },
         true},
        {"a visit, and Стоп while the screen is locked", [](Desk& d) { d.visit(1010.0, 1012.0); },
         [](Desk& d) {
             d.locked(true);
             d.h.stop();
             d.settle();
             EXPECT_EQ(d.summaryShows.count, 0) << "it waits for the unlock";
             d.locked(false);
         },
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Desk desk;
        desk.away(true);
        row.beforeTheEnd(desk);
        EXPECT_EQ(desk.summaryShows.count, 0) << "not while away";
        row.end(desk);
        EXPECT_FALSE(desk.h.monitor->awayMode.get());
        EXPECT_EQ(desk.summaryShows.count, row.shown ? 1 : 0);
        ASSERT_EQ(desk.summary() != nullptr, row.shown);
        if (row.shown) {
            EXPECT_EQ(desk.summary()->windowTitle(), "Пока вас не было");
            EXPECT_EQ(rowTexts(desk.summary()), std::vector<std::string>{"<b>10:00</b>&nbsp;&nbsp;Кто-то у "
                                                                         "компьютера / 5 с · экран заблокирован"});
        }
    }
}

// Today's incidents newest first; the journal kept only when asked, pictures only with it, and
// "Очистить журнал" empties the window and the folder.
TEST(JournalWindowTest, ListsTodayNewestFirstKeepsWhenAskedAndClears) {
    Desk desk;
    desk.onlooker(1001.0, 1005.75);  // confirmed at 1001.75, raised three times, gone at 1009.5
    desk.away(true);
    desk.visit(1010.0, 1012.0);
    desk.at(1016.0);
    desk.locked(true);
    desk.at(1080.0);
    desk.locked(false);
    ASSERT_NE(desk.summary(), nullptr);
    desk.summary()->close();

    desk.journal->showJournal();
    desk.settle();
    QWidget* window = desk.journal->journalWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Журнал");
    EXPECT_EQ(rowTexts(window), (std::vector<std::string>{
                                    "<b>10:00</b>&nbsp;&nbsp;Пауза: экран заблокирован / 1 мин 4 с",
                                    "<b>10:00</b>&nbsp;&nbsp;Кто-то у компьютера / 5 с · экран заблокирован",
                                    "<b>10:00</b>&nbsp;&nbsp;Смотрели через плечо / 8 с · файл выведен 3 раза",
                                }));
    auto* keep = window->findChild<QCheckBox*>("keepJournal");
    auto* pictures = window->findChild<QCheckBox*>("keepFacePictures");
    EXPECT_EQ(keep->text(), "Хранить журнал");
    EXPECT_EQ(pictures->text(), "Сохранять снимки лиц");
    EXPECT_FALSE(keep->isChecked()) << "off until the user turns it on";
    EXPECT_FALSE(pictures->isChecked());
    EXPECT_FALSE(pictures->isEnabled()) << "pictures only with the journal kept";
    EXPECT_FALSE(fs::exists(desk.dir.path() / "state")) << "nothing on disk";

    keep->click();
    desk.settle();
    ASSERT_TRUE(pictures->isEnabled());
    pictures->click();
    EXPECT_EQ(desk.h.services->string("tovak.keepJournal"), "true");
    EXPECT_EQ(desk.h.services->string("tovak.keepFacePictures"), "true");
    desk.away(true);
    desk.visit(1100.0, 1101.0);
    desk.away(false);
    EXPECT_EQ(desk.pictureFiles(), 1u);
    std::ifstream kept(desk.dir.path() / "state" / "journal.jsonl");
    std::string line;
    std::getline(kept, line);
    EXPECT_EQ(line.rfind(R"({"kind": "visit", "start": 1796637700.750)", 0), 0u) << line;

    window->findChild<QPushButton*>("clearJournal")->click();
    desk.settle();
    EXPECT_TRUE(rowTexts(window).empty());
    EXPECT_TRUE(window->findChild<QLabel*>("journalEmpty")->isVisible());
    EXPECT_EQ(window->findChild<QLabel*>("journalEmpty")->text(), "Сегодня ничего не случилось");
    EXPECT_EQ(desk.pictureFiles(), 0u);
    EXPECT_FALSE(fs::exists(desk.dir.path() / "state" / "journal.jsonl"));
}

// A kept journal with damaged lines loads the rest with one note; yesterday is not today.
TEST(JournalWindowTest, AKeptJournalLoadsWithOneNoteForItsDamagedLines) {
    Desk desk([](FakeServices& settings, const TempDir& dir) {
        settings.setString("tovak.keepJournal", "true");
        dir.write("state/journal.jsonl",
                  R"({"kind": "onlooker", "start": 1796551200.000, "end": 1796551210.000, "raises": 2})"
                  "\n{\"kind\": \"vis\n"
                  R"({"kind": "pause", "reason": "user", "start": 1796634000.000, "end": 1796635800.000})"
                  "\n"
                  R"({"kind": "leave", "start": 1796634100.000, "end": 1796634130.000, "lock": "failed"})"
                  "\n{\"kind\": \"onlooker\", \"sta");
    });
    EXPECT_EQ(std::count(desk.statuses.begin(), desk.statuses.end(), "Журнал: повреждённые записи пропущены"), 1);
    desk.journal->showJournal();
    desk.settle();
    EXPECT_EQ(rowTexts(desk.journal->journalWindow()),
              (std::vector<std::string>{"<b>09:01</b>&nbsp;&nbsp;Вы ушли / 30 с · блокировка не сработала",
                                        "<b>09:00</b>&nbsp;&nbsp;Пауза / 30 мин"}));
}

// Only the visitor's face is kept: the onlooker's, which the panel shows, never reaches the disk.
TEST(JournalWindowTest, OnlyTheVisitorsFaceIsKeptNeverTheOnlookers) {
    Desk desk([](FakeServices& settings, const TempDir&) {
        settings.setString("tovak.keepJournal", "true");
        settings.setString("tovak.keepFacePictures", "true");
    });
    desk.onlooker(1001.0, 1004.0);
    EXPECT_EQ(desk.pictureFiles(), 0u);
    desk.away(true);
    desk.visit(1010.0, 1013.0);
    desk.away(false);
    EXPECT_EQ(desk.pictureFiles(), 1u);

    ASSERT_NE(desk.summary(), nullptr);
    desk.summary()->findChild<QPushButton*>("summaryJournal")->click();
    desk.settle();
    ASSERT_NE(desk.journal->journalWindow(), nullptr);
    saveScreenshot(desk.summary(), "away-summary");
    saveScreenshot(desk.journal->journalWindow(), "journal");
}

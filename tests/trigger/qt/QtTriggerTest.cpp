// The trigger choice on the real settings store, file system and resources, in a temporary folder;
// the Qt workspace and file chooser (offscreen).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QSettings>
#include <chrono>
#include <deque>
#include <filesystem>
#include <sstream>
#include <thread>

#include "monitor/qt/QtSettingsStore.h"
#include "runtime/Simulation.h"
#include "support/MonitorHarness.h"
#include "support/TempDir.h"
#include "system/DataDirectory.h"
#include "trigger/PosixFileSystem.h"
#include "trigger/RaisingWorkspace.h"
#include "trigger/qt/QtFileChooser.h"
#include "trigger/qt/QtWorkspace.h"

namespace tovak::trigger {
namespace {

using trigger::QtFileChooser;
using trigger::QtWorkspace;

namespace fs = std::filesystem;

class TriggerSettings : public ::testing::Test {
  protected:
    // A new launch of the program: the summary is computed when the monitor is made.
    testing::MonitorHarness& launch() {
        h_.reset();
        h_ = std::make_unique<testing::MonitorHarness>([this](monitor::Ports& deps) {
            deps.settings = std::make_shared<monitor::QtSettingsStore>(QString::fromStdString(settingsFile_.string()));
            deps.fileSystem = std::make_shared<PosixFileSystem>();
            deps.resources = std::make_shared<system::DataDirectoryResources>(folder_ / "share/tovak");
        });
        return *h_;
    }
    void choose(std::optional<std::string> answer) {
        h_->monitor->pickTriggerFile();
        h_->choose(std::move(answer));
    }
    std::string summary() const { return h_->monitor->triggerFileSummary.get(); }
    std::optional<std::string> resolved() const { return h_->monitor->resolvedTriggerURL(); }
    [[nodiscard]] QSettings raw() const {
        return QSettings(QString::fromStdString(settingsFile_.string()), QSettings::IniFormat);
    }
    void store(const std::string& value) { raw().setValue("ruzered.triggerFilePath", QString::fromStdString(value)); }
    std::optional<std::string> stored() const {
        const QVariant value = raw().value("ruzered.triggerFilePath");
        return value.isValid() ? std::optional(value.toString().toStdString()) : std::nullopt;
    }

    testing::TempDir folder_{"tovak-settings"};
    fs::path settingsFile_ = folder_ / "tovak.ini";
    fs::path defaultDocument_ = folder_.write("share/tovak/DefaultTrigger.csv", "a;b\n");
    fs::path userDocument_ = folder_.write("Бюджет 2026 \"итог\".xlsx", "x");
    std::unique_ptr<testing::MonitorHarness> h_;
};

TEST_F(TriggerSettings, ChosenFileIsStoredAsAPlainPathAndSurvivesARelaunch) {
    launch();
    EXPECT_EQ(summary(), "По умолчанию");
    EXPECT_EQ(resolved(), defaultDocument_.string());
    choose(userDocument_.string());
    EXPECT_EQ(summary(), "Бюджет 2026 \"итог\".xlsx");
    EXPECT_EQ(stored(), userDocument_.string());
    launch();
    EXPECT_EQ(summary(), "Бюджет 2026 \"итог\".xlsx");
    EXPECT_EQ(resolved(), userDocument_.string());
}

TEST_F(TriggerSettings, StoredPathsThatAreNoRegularFileLoseToTheDefaultAndStayStored) {
    const std::string pipe = folder_ / "pipe.csv";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& value : {userDocument_.string() + ".gone", folder_.path().string(), pipe, std::string()}) {
        SCOPED_TRACE(value);
        store(value);
        launch();
        EXPECT_EQ(summary(), "По умолчанию");
        EXPECT_EQ(resolved(), defaultDocument_.string());
        EXPECT_EQ(stored(), value);
    }
    fs::remove(defaultDocument_);
    launch();
    EXPECT_EQ(summary(), "Нет файла");
    EXPECT_FALSE(resolved());
}

TEST_F(TriggerSettings, ClearingGoesBackToTheDefaultOrRefreshesTheSummary) {
    store(userDocument_.string());
    launch();
    for (const char* expected : {"По умолчанию", "Нет файла"}) {
        h_->monitor->clearCustomTriggerFile();
        h_->sim.drain();
        EXPECT_FALSE(stored());
        EXPECT_EQ(summary(), expected);
        EXPECT_EQ(h_->status(), "Готов");
        fs::remove(defaultDocument_);
    }
}

TEST_F(TriggerSettings, HandWrittenValuesWithCommasReadAsTyped) {
    folder_.write("tovak.ini", "[General]\nruzered.triggerFilePath=" + folder_.write("a,b.csv", "x") +
                                   "\ntovak.ignoredFaces=0.7,0.6,0.12,0.16\n");
    monitor::PrivacyMonitor& m = *launch().monitor;
    EXPECT_EQ(m.triggerFileSummary.get(), "a,b.csv");
    EXPECT_EQ(m.ignoredFaces.get(), (std::vector<imaging::Rect>{{0.7, 0.6, 0.12, 0.16}}));
}

TEST_F(TriggerSettings, UnwritableSettingsAreReportedNotLost) {
    // A folder that is a file: no one, not even root, can create the settings file under it.
    folder_.write("blocker", "x");
    settingsFile_ = folder_ / "blocker/tovak.ini";
    launch();
    choose(userDocument_.string());
    EXPECT_EQ(h_->status(), "Настройки не сохранились");
}

// The desktop seen through the trigger's window control: no window shows the document yet.
class NoWindowsYet final : public WindowControl {
  public:
    [[nodiscard]] std::string name() const override { return "none yet"; }
    [[nodiscard]] std::optional<int> countWindowsTitled(const std::string&) override { return 0; }
    Outcome raiseWindowsTitled(const std::string&) override { return Outcome::done; }
    Outcome closeWindowsTitled(const std::string&) override { return Outcome::done; }
    Outcome placePanel(const std::string&, const DesktopRect&) override { return Outcome::unsupported; }
    [[nodiscard]] std::optional<DesktopRect> activeScreen() override { return std::nullopt; }
};

// The real workspace, remembering the opener's answers on their way to the raising workspace.
class AnswerSpy final : public monitor::Workspace {
  public:
    QtWorkspace real;
    std::vector<bool> answers;
    bool open(const std::string& path) override { return real.open(path); }
    void openThen(const std::string& path, Outcome outcome) override {
        real.openThen(path, [this, outcome](bool opened) { answers.push_back(opened), outcome(opened); });
    }
};

TEST(Workspace, TheDesktopOpenersExitStatusReachesTheStatusLineOncePerAttemptAndAnOpenerThatStaysBlocksNothing) {
    testing::TempDir folder("tovak-opener");
    // A stand-in xdg-open that answers as the document's name says; "ждёт" stays until told to go (or
    // the test is over), as xdg-open does while it keeps the application in the foreground.
    folder.script("bin/xdg-open", "printf '%s\\n' \"$@\" >> '" + (folder / "asked") + "'\ncase \"$1\" in\n" +
                                      "*отказ*) exit 3;;\n*нет*) exit 4;;\n*семь*) /bin/sleep 7; exit 3;;\n*ждёт*) " +
                                      "while [ ! -e '" + (folder / "go") +
                                      "' ] && [ -e \"$1\" ]; do /bin/sleep 0.1; done;;\nesac");
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(folder / "bin"));
    auto worker = std::make_shared<runtime::ManualSerialQueue>();
    auto main = std::make_shared<runtime::ManualSerialQueue>();
    const auto waitFor = [&](const std::function<bool()>& done) {
        for (QDeadlineTimer deadline(30000); !done() && !deadline.hasExpired();) {
            QCoreApplication::processEvents();
            while (worker->runAll() + main->runAll() > 0) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    };
    const struct Row {
        const char* document;
        bool exists;
        std::vector<bool> answers;
        std::vector<std::string> notices;
        double notBeforeSeconds = 0;
    } rows[] = {
        {"ждёт.csv", true, {}, {}},  // first, so that every other row runs while it stays
        {"Бюджет #3 \"итог\".csv", true, {true}, {}},
        {"отказ.csv", true, {false}, {"Файл не открылся"}},
        {"нет приложения.csv", true, {false}, {"Файл не открылся"}},
        {"пропал.csv", false, {false}, {"Файл не открылся"}},
        // Still running 5 s after it was asked: handed over; its "no" 2 s later is not heard.
        {"семь секунд.csv", true, {true}, {}, 5.0},
    };
    std::deque<std::vector<std::string>> notices;  // each stays where it is
    std::vector<std::shared_ptr<AnswerSpy>> openers;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.document);
        const std::string document = row.exists ? folder.write(row.document, "a;b\n") : folder / row.document;
        openers.push_back(std::make_shared<AnswerSpy>());
        auto documents = RaisingWorkspace::create(
            std::make_shared<NoWindowsYet>(), openers.back(), worker, main,
            [&said = notices.emplace_back()](const std::string& text) { said.push_back(text); });
        const auto asked = std::chrono::steady_clock::now();
        documents->open(document);
        documents->open(document);
        EXPECT_TRUE(waitFor([&] {
            return openers.back()->answers.size() == row.answers.size() &&
                   (!row.exists || folder.read("asked").find(document) != std::string::npos);
        }));
        EXPECT_EQ(openers.back()->answers, row.answers);
        EXPECT_EQ(notices.back(), row.notices);
        EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count(),
                  row.notBeforeSeconds);
    }
    // The opener is handed the document's absolute path as one argument, once per attempt.
    EXPECT_EQ(folder.read("asked"), folder / "ждёт.csv\n" + folder / "Бюджет #3 \"итог\".csv\n" +
                                        folder / "отказ.csv\n" + folder / "нет приложения.csv\n" +
                                        folder / "семь секунд.csv\n");
    folder.write("go", "");
    EXPECT_TRUE(waitFor([&] { return !openers.front()->answers.empty(); }));
    EXPECT_EQ(openers.front()->answers, std::vector<bool>{true});
    EXPECT_TRUE(notices.front().empty());

    // No opener at all on this desktop.
    qputenv("PATH", QByteArray::fromStdString(folder / "nowhere"));
    std::optional<bool> answer;
    QtWorkspace().openThen(folder / "отказ.csv", [&](bool opened) { answer = opened; });
    EXPECT_EQ(answer, false);
    EXPECT_FALSE(QtWorkspace().open(folder / "отказ.csv"));
    qputenv("PATH", path);
}

// Tovak quits while its opener still runs: the opener goes on, in a session of its own, with Tovak's
// environment.
TEST(Workspace, QuittingLeavesTheOpenerRunningInASessionOfItsOwn) {
    testing::TempDir folder("tovak-opener-quit");
    folder.script("bin/xdg-open", "[ $(cut -d' ' -f6 /proc/$$/stat) = $$ ] && echo \"own session $MARK\" > '" +
                                      folder / "started" + "'\nwhile [ ! -e '" + folder / "go" +
                                      "' ] && [ -e \"$1\" ]; do sleep 0.1; done\ntouch '" + folder / "after" + "'");
    const std::string tovak = "PATH='" + folder / "bin" + ":/usr/bin:/bin' MARK=своё " TOVAK_TEST_OPENER " '" +
                              folder.write("Отчёт.csv", "x") + "'";
    ASSERT_EQ(std::system(tovak.c_str()), 0);
    const auto waitFor = [](const fs::path& file) {
        for (QDeadlineTimer deadline(20000); !fs::exists(file) && !deadline.hasExpired();) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return fs::exists(file);
    };
    EXPECT_TRUE(waitFor(folder / "started"));
    EXPECT_EQ(folder.read("started"), "own session своё\n");
    folder.write("go", "");
    EXPECT_TRUE(waitFor(folder / "after")) << "the opener did not outlive Tovak";
}

TEST(FileChooser, NonModalSingleSpreadsheetChoiceAnsweredOnceWithThePathOrOnCancelWithNothing) {
    testing::TempDir folder("tovak-chooser");
    const std::string document = folder.write("Отчёт за квартал.xlsx", "x");
    for (const bool accept : {true, false}) {
        SCOPED_TRACE(accept ? "accept" : "cancel");
        QtFileChooser chooser;
        int calls = 0;
        std::optional<std::string> answer;
        chooser.chooseTriggerFile([&](std::optional<std::string> path) {
            ++calls;
            answer = std::move(path);
        });
        QFileDialog* dialog = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QtFileChooser::dialogObjectName && widget->isVisible()) {
                dialog = qobject_cast<QFileDialog*>(widget);
            }
        }
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(calls, 0) << "the chooser returns before the user answers";
        EXPECT_FALSE(dialog->isModal());
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog->nameFilters(), QStringList{"CSV и таблицы (*.csv *.xlsx *.xls *.ods *.numbers)"});
        if (accept) {
            dialog->setDirectory(QString::fromStdString(folder.path().string()));
            dialog->selectFile(QString::fromStdString(document));
            static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, which checks the chosen file
        } else {
            dialog->reject();
        }
        QApplication::processEvents();
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(answer, accept ? std::optional(document) : std::nullopt);
    }
}

}  // namespace
}  // namespace tovak::trigger

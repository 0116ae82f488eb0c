// The trigger choice on the real settings store, file system and resources, in a temporary folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QSettings>
#include <filesystem>
#include <fstream>

#include "platform/qt/QtSettingsStore.h"
#include "support/MonitorHarness.h"
#include "trigger/BundledResources.h"
#include "trigger/PosixFileSystem.h"

namespace tovak::trigger {
namespace {

namespace fs = std::filesystem;

class TriggerSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "share" / "tovak");
        std::ofstream(defaultDocument_) << "a;b\n";
        std::ofstream(userDocument_) << "x";
    }
    void TearDown() override {
        h_.reset();
        fs::remove_all(folder_);
    }
    // A new launch of the program: the summary is computed when the monitor is made.
    testing::MonitorHarness& launch() {
        h_.reset();
        h_ = std::make_unique<testing::MonitorHarness>([this](monitor::PrivacyMonitor::Dependencies& deps) {
            deps.settings = std::make_shared<platform::QtSettingsStore>(QString::fromStdString(settingsFile_.string()));
            deps.fileSystem = std::make_shared<PosixFileSystem>();
            deps.resources =
                std::make_shared<BundledResources>(std::vector<std::string>{(folder_ / "share/tovak").string()});
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
        const QSettings settings = raw();
        return settings.contains("ruzered.triggerFilePath")
                   ? std::optional(settings.value("ruzered.triggerFilePath").toString().toStdString())
                   : std::nullopt;
    }

    fs::path folder_ = fs::temp_directory_path() / ("tovak-settings-" + std::to_string(::getpid()));
    fs::path settingsFile_ = folder_ / "tovak.ini";
    fs::path defaultDocument_ = folder_ / "share" / "tovak" / "DefaultTrigger.csv";
    fs::path userDocument_ = folder_ / "Бюджет 2026 \"итог\".xlsx";
    std::unique_ptr<testing::MonitorHarness> h_;
};

TEST_F(TriggerSettings, ChosenFileIsStoredAsAPlainPathAndSurvivesARelaunch) {
    launch();
    EXPECT_EQ(summary(), "По умолчанию");
    EXPECT_EQ(resolved(), defaultDocument_.string());
    choose(userDocument_.string());
    choose(std::nullopt);  // cancel keeps the earlier choice
    EXPECT_EQ(summary(), "Бюджет 2026 \"итог\".xlsx");
    EXPECT_EQ(stored(), userDocument_.string());
    launch();
    EXPECT_EQ(summary(), "Бюджет 2026 \"итог\".xlsx");
    EXPECT_EQ(resolved(), userDocument_.string());
    // The document used is decided at each use, while the summary waits.
    fs::remove(userDocument_);
    EXPECT_EQ(summary(), "Бюджет 2026 \"итог\".xlsx");
    EXPECT_EQ(resolved(), defaultDocument_.string());
}

TEST_F(TriggerSettings, StoredPathsThatAreNoFileLoseToTheDefaultAndStayStored) {
    for (const std::string& value : {userDocument_.string() + ".gone", folder_.string(), std::string()}) {
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
    launch().monitor->clearCustomTriggerFile();
    h_->sim.drain();
    EXPECT_FALSE(stored());
    EXPECT_EQ(summary(), "По умолчанию");
    EXPECT_EQ(h_->status(), "Готов");
    fs::remove(defaultDocument_);
    h_->monitor->clearCustomTriggerFile();
    h_->sim.drain();
    EXPECT_EQ(summary(), "Нет файла");
    EXPECT_EQ(h_->status(), "Готов");
}

TEST_F(TriggerSettings, HandWrittenValuesWithCommasReadAsTyped) {
    const fs::path document = folder_ / "a,b.csv";
    std::ofstream(document) << "x";
    std::ofstream(settingsFile_) << "[General]\nruzered.triggerFilePath=" << document.string()
                                 << "\ntovak.ignoredFaces=0.7,0.6,0.12,0.16\n";
    monitor::PrivacyMonitor& m = *launch().monitor;
    EXPECT_EQ(m.triggerFileSummary.get(), "a,b.csv");
    EXPECT_EQ(m.ignoredFaces.get(), (std::vector<imaging::Rect>{{0.7, 0.6, 0.12, 0.16}}));
}

TEST_F(TriggerSettings, UnwritableSettingsAreReportedNotLost) {
    // A folder that is a file: no one, not even root, can create the settings file under it.
    std::ofstream(folder_ / "blocker") << "x";
    settingsFile_ = folder_ / "blocker" / "tovak.ini";
    launch();
    choose(userDocument_.string());
    EXPECT_EQ(h_->status(), "Настройки не сохранились");
}

}  // namespace
}  // namespace tovak::trigger

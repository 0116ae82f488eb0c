#include <gtest/gtest.h>
#include <unistd.h>

#include <QSettings>
#include <filesystem>
#include <fstream>

#include "monitor/PrivacyMonitor.h"
#include "platform/qt/QtSettingsStore.h"
#include "runtime/Simulation.h"
#include "support/Fakes.h"
#include "trigger/BundledResources.h"
#include "trigger/PosixFileSystem.h"

namespace tovak::trigger {
namespace {

namespace fs = std::filesystem;
using monitor::PrivacyMonitor;

// The trigger choice on the real settings store, file system and resources, in a temporary folder.
class TriggerSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tovak-settings-" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "share" / "tovak");
        settingsFile_ = folder_ / "tovak.ini";
        defaultDocument_ = folder_ / "share" / "tovak" / "DefaultTrigger.csv";
        std::ofstream(defaultDocument_) << "a;b\n";
        userDocument_ = folder_ / "Бюджет 2026 \"итог\".xlsx";
        std::ofstream(userDocument_) << "x";
    }
    void TearDown() override {
        monitor_.reset();
        fs::remove_all(folder_);
    }

    // A new launch of the program: the summary is computed when the monitor is made.
    PrivacyMonitor& launch() {
        monitor_.reset();
        PrivacyMonitor::Dependencies deps;
        deps.mainQueue = std::shared_ptr<runtime::MainQueue>(std::shared_ptr<void>{}, &sim_.main);
        deps.sessionQueue = std::shared_ptr<runtime::TaskQueue>(std::shared_ptr<void>{}, &sim_.session);
        deps.backgroundQueue = std::shared_ptr<runtime::TaskQueue>(std::shared_ptr<void>{}, &sim_.background);
        deps.clock = std::shared_ptr<runtime::Clock>(std::shared_ptr<void>{}, &sim_.clock);
        deps.settings = std::make_shared<platform::QtSettingsStore>(QString::fromStdString(settingsFile_.string()));
        deps.fileSystem = std::make_shared<PosixFileSystem>();
        deps.resources =
            std::make_shared<BundledResources>(std::vector<std::string>{(folder_ / "share/tovak").string()});
        deps.fileChooser = chooser_;
        monitor_ = PrivacyMonitor::create(std::move(deps));
        sim_.drain();
        return *monitor_;
    }

    void choose(std::optional<std::string> answer) {
        monitor_->pickTriggerFile();
        ASSERT_TRUE(chooser_->pending);
        auto completion = std::move(chooser_->pending);
        chooser_->pending = nullptr;
        completion(std::move(answer));
        sim_.drain();
    }

    void store(const std::string& value) {
        QSettings raw(QString::fromStdString(settingsFile_.string()), QSettings::IniFormat);
        raw.setValue(PrivacyMonitor::customTriggerPathKey, QString::fromStdString(value));
    }
    std::optional<std::string> stored() const {
        QSettings raw(QString::fromStdString(settingsFile_.string()), QSettings::IniFormat);
        if (!raw.contains(PrivacyMonitor::customTriggerPathKey)) {
            return std::nullopt;
        }
        return raw.value(PrivacyMonitor::customTriggerPathKey).toString().toStdString();
    }

    runtime::Simulation sim_;
    std::shared_ptr<testing::FakeFileChooser> chooser_ = std::make_shared<testing::FakeFileChooser>();
    std::shared_ptr<PrivacyMonitor> monitor_;
    fs::path folder_, settingsFile_, defaultDocument_, userDocument_;
};

TEST_F(TriggerSettings, NothingStoredUsesTheDefaultDocument) {
    PrivacyMonitor& m = launch();
    EXPECT_EQ(m.triggerFileSummary.get(), "По умолчанию");
    EXPECT_EQ(m.resolvedTriggerURL(), defaultDocument_.string());
}

TEST_F(TriggerSettings, ChosenFileIsStoredAsAPlainPathAndSurvivesARelaunch) {
    launch();
    choose(userDocument_.string());
    EXPECT_EQ(monitor_->triggerFileSummary.get(), "Бюджет 2026 \"итог\".xlsx");
    EXPECT_EQ(stored(), userDocument_.string());
    PrivacyMonitor& again = launch();
    EXPECT_EQ(again.triggerFileSummary.get(), "Бюджет 2026 \"итог\".xlsx");
    EXPECT_EQ(again.resolvedTriggerURL(), userDocument_.string());
}

TEST_F(TriggerSettings, StoredFileThatDisappearedLosesToTheDefaultAndStaysStored) {
    store(userDocument_.string());
    fs::remove(userDocument_);
    PrivacyMonitor& m = launch();
    EXPECT_EQ(m.triggerFileSummary.get(), "По умолчанию");
    EXPECT_EQ(m.resolvedTriggerURL(), defaultDocument_.string());
    EXPECT_EQ(stored(), userDocument_.string());

    fs::remove(defaultDocument_);
    PrivacyMonitor& bare = launch();
    EXPECT_EQ(bare.triggerFileSummary.get(), "Нет файла");
    EXPECT_FALSE(bare.resolvedTriggerURL());
}

TEST_F(TriggerSettings, UsedDocumentIsDecidedAtEachUseWhileTheSummaryWaits) {
    store(userDocument_.string());
    PrivacyMonitor& m = launch();
    fs::remove(userDocument_);
    EXPECT_EQ(m.triggerFileSummary.get(), "Бюджет 2026 \"итог\".xlsx");
    EXPECT_EQ(m.resolvedTriggerURL(), defaultDocument_.string());
}

TEST_F(TriggerSettings, EmptyStoredStringCountsAsNothingStored) {
    store("");
    PrivacyMonitor& m = launch();
    EXPECT_EQ(m.triggerFileSummary.get(), "По умолчанию");
    EXPECT_EQ(m.resolvedTriggerURL(), defaultDocument_.string());
}

TEST_F(TriggerSettings, StoredFolderIsNotATriggerFile) {
    store(folder_.string());
    EXPECT_EQ(launch().resolvedTriggerURL(), defaultDocument_.string());
}

TEST_F(TriggerSettings, CancelKeepsTheEarlierChoice) {
    launch();
    choose(userDocument_.string());
    choose(std::nullopt);
    EXPECT_EQ(stored(), userDocument_.string());
    EXPECT_EQ(monitor_->triggerFileSummary.get(), "Бюджет 2026 \"итог\".xlsx");
}

TEST_F(TriggerSettings, ClearingGoesBackToTheDefault) {
    store(userDocument_.string());
    PrivacyMonitor& m = launch();
    m.clearCustomTriggerFile();
    sim_.drain();
    EXPECT_FALSE(stored());
    EXPECT_EQ(m.triggerFileSummary.get(), "По умолчанию");
    EXPECT_EQ(m.statusLine.get(), "Готов");
}

TEST_F(TriggerSettings, ClearingWithNothingStoredRefreshesTheSummaryOnly) {
    PrivacyMonitor& m = launch();
    fs::remove(defaultDocument_);
    m.clearCustomTriggerFile();
    sim_.drain();
    EXPECT_FALSE(stored());
    EXPECT_EQ(m.triggerFileSummary.get(), "Нет файла");
    EXPECT_EQ(m.statusLine.get(), "Готов");
}

TEST_F(TriggerSettings, HandWrittenValuesWithCommasReadAsTyped) {
    const fs::path document = folder_ / "a,b.csv";
    std::ofstream(document) << "x";
    std::ofstream(settingsFile_) << "[General]\nruzered.triggerFilePath=" << document.string()
                                 << "\ntovak.ignoredFaces=0.7,0.6,0.12,0.16\n";
    PrivacyMonitor& m = launch();
    EXPECT_EQ(m.triggerFileSummary.get(), "a,b.csv");
    EXPECT_EQ(m.ignoredFaces.get(), (std::vector<imaging::Rect>{{0.7, 0.6, 0.12, 0.16}}));
}

TEST_F(TriggerSettings, UnwritableSettingsAreReportedNotLost) {
    // A folder that is a file: no one, not even root, can create the settings file under it.
    std::ofstream(folder_ / "blocker") << "x";
    settingsFile_ = folder_ / "blocker" / "tovak.ini";
    PrivacyMonitor& m = launch();
    choose(userDocument_.string());
    EXPECT_EQ(m.statusLine.get(), "Настройки не сохранились");
}

}  // namespace
}  // namespace tovak::trigger

#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AdminLocks.h"
#include "app/AwaySummaryWindow.h"
#include "app/JournalWindow.h"
#include "journal/JournalRecorder.h"
#include "journal/JournalStore.h"
#include "monitor/PrivacyMonitor.h"
#include "monitor/ports/Services.h"

namespace tovak::app {

// The journal in the window application: the recorder wired into the monitor, the store when the
// user chose to keep the journal, the "Пока вас не было" window after an away period with visits
// and the "Журнал" window. Both settings are off until the user turns them on. GUI thread.
class JournalController final : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* keepJournalKey = "tovak.keepJournal";
    static constexpr const char* keepFacePicturesKey = "tovak.keepFacePictures";

    // Reads the settings and, when the journal is kept, what it holds; folder is where it is kept.
    JournalController(std::shared_ptr<runtime::MainQueue> mainQueue, std::shared_ptr<runtime::WallClock> wallClock,
                      std::shared_ptr<monitor::SettingsStore> settings,
                      std::string folder = journal::JournalStore::defaultFolder());
    ~JournalController() override;
    JournalController(const JournalController&) = delete;
    JournalController& operator=(const JournalController&) = delete;

    // Puts the recorder into the ports before the monitor is made; the close-up among them, when it
    // is the window, hands over what it shows.
    void wire(monitor::Ports& ports);
    // After the monitor is made: the recorder follows it and the status line tells what failed.
    void attach(monitor::PrivacyMonitor& monitor);

    // The "Журнал" window, made when needed and brought to the front.
    void showJournal();
    [[nodiscard]] JournalWindow* journalWindow() const { return journalWindow_; }
    [[nodiscard]] AwaySummaryWindow* summaryWindow() const { return summaryWindow_; }

    [[nodiscard]] journal::JournalRecorder& recorder() { return *recorder_; }
    [[nodiscard]] journal::Journal& journal() { return recorder_->journal(); }
    [[nodiscard]] double now() const { return recorder_->now(); }
    [[nodiscard]] const journal::JournalStore& store() const { return *store_; }
    // The picture of a visit: in memory, else the kept file; null when there is none.
    [[nodiscard]] QImage pictureOf(const journal::Incident& incident) const;

    // Which of the two settings the administrator decided: their boxes are greyed out.
    void setAdminLocks(AdminLocks locks) { locks_ = std::move(locks); }
    [[nodiscard]] const AdminLocks& adminLocks() const { return locks_; }

    [[nodiscard]] bool keepsJournal() const { return keepJournal_; }
    [[nodiscard]] bool keepsPictures() const { return keepJournal_ && keepPictures_; }
    void setKeepJournal(bool on);
    void setKeepPictures(bool on);
    // Empties the journal and removes what was kept of it.
    void clearJournal();

  private:
    void loadKept();
    void applyKeeping();
    void saveSetting(const char* key, bool on);
    void status(const std::string& text);
    void showSummary(std::vector<std::uint64_t> visits);

    std::shared_ptr<journal::JournalRecorder> recorder_;
    std::shared_ptr<monitor::SettingsStore> settings_;
    std::shared_ptr<journal::JournalStore> store_;
    std::weak_ptr<monitor::PrivacyMonitor> monitor_;
    bool keepJournal_ = false;
    bool keepPictures_ = false;
    bool loaded_ = false;
    AdminLocks locks_;
    // Said once the monitor is there to show it.
    std::optional<std::string> pendingStatus_;
    QPointer<JournalWindow> journalWindow_;
    QPointer<AwaySummaryWindow> summaryWindow_;
};

}  // namespace tovak::app

#include "app/JournalController.h"

#include "overlay/FaceImageView.h"
#include "overlay/FullscreenFaceController.h"

namespace tovak::app {

namespace {

bool setting(const monitor::SettingsStore* settings, const char* key) {
    return settings != nullptr && settings->string(key).value_or("false") == "true";
}

}  // namespace

JournalController::JournalController(std::shared_ptr<runtime::MainQueue> mainQueue,
                                     std::shared_ptr<runtime::WallClock> wallClock,
                                     std::shared_ptr<monitor::SettingsStore> settings, std::string folder)
    : recorder_(journal::JournalRecorder::create(std::move(mainQueue), std::move(wallClock))),
      settings_(std::move(settings)),
      store_(std::make_shared<journal::JournalStore>(std::move(folder))),
      keepJournal_(setting(settings_.get(), keepJournalKey)),
      keepPictures_(setting(settings_.get(), keepFacePicturesKey)) {
    recorder_->setOnStatus([this](const std::string& text) { status(text); });
    recorder_->setOnAwaySummary([this](std::vector<std::uint64_t> visits) { showSummary(std::move(visits)); });
    if (keepJournal_) {
        loadKept();
    } else if (store_->exists()) {
        // Not kept any more, but what was kept still expires.
        static_cast<void>(store_->load(recorder_->now()));
    }
    applyKeeping();
}

JournalController::~JournalController() {
    recorder_->setOnStatus({});
    recorder_->setOnAwaySummary({});
    recorder_->finish();
    delete journalWindow_.data();
    delete summaryWindow_.data();
}

void JournalController::wire(monitor::Ports& ports) {
    recorder_->wire(ports);
    if (const auto closeup = std::dynamic_pointer_cast<overlay::FullscreenFaceController>(ports.fullscreen)) {
        closeup->setOnPicture([weak = std::weak_ptr(recorder_)](const imaging::Image& picture) {
            if (const auto recorder = weak.lock()) {
                recorder->closeupShown(picture);
            }
        });
    }
}

void JournalController::attach(monitor::PrivacyMonitor& monitor) {
    monitor_ = monitor.weak_from_this();
    recorder_->watch(monitor);
    if (pendingStatus_) {
        status(*std::exchange(pendingStatus_, std::nullopt));
    }
}

void JournalController::status(const std::string& text) {
    if (const auto monitor = monitor_.lock()) {
        monitor->statusLine.set(text);
    } else {
        pendingStatus_ = text;
    }
}

void JournalController::loadKept() {
    loaded_ = true;
    if (!store_->prepare()) {
        status("Журнал: запись не удалась");
    }
    journal::JournalStore::Loaded kept = store_->load(recorder_->now());
    if (!kept.whole) {
        // Only what came before the failed read is shown; the file itself is left as it is.
        status("Журнал: чтение не удалось");
    } else if (kept.skipped > 0) {
        status("Журнал: повреждённые записи пропущены");
    }
    recorder_->addLoaded(std::move(kept.incidents));
}

void JournalController::applyKeeping() {
    recorder_->keepIn(keepJournal_ ? store_ : nullptr, keepsPictures());
}

void JournalController::saveSetting(const char* key, bool on) {
    if (settings_ && !settings_->setString(key, on ? "true" : "false")) {
        status("Настройки не сохранились");
    }
}

void JournalController::setKeepJournal(bool on) {
    if (on == keepJournal_) {
        return;
    }
    keepJournal_ = on;
    saveSetting(keepJournalKey, on);
    if (on && !loaded_) {
        loadKept();
    } else if (on && !store_->prepare()) {
        status("Журнал: запись не удалась");
    }
    applyKeeping();
    if (journalWindow_) {
        journalWindow_->rebuild();
    }
}

void JournalController::setKeepPictures(bool on) {
    if (on == keepPictures_) {
        return;
    }
    keepPictures_ = on;
    saveSetting(keepFacePicturesKey, on);
    applyKeeping();
}

void JournalController::clearJournal() {
    recorder_->clear();
    if (store_->exists() && !store_->clear()) {
        status("Журнал не очистился");
    }
}

QImage JournalController::pictureOf(const journal::Incident& incident) const {
    if (incident.image) {
        return overlay::toQImage(imaging::Image{incident.image, static_cast<double>(incident.image->width()),
                                                static_cast<double>(incident.image->height())});
    }
    if (!incident.picture.empty()) {
        const std::optional<std::string> png = store_->readPicture(incident.picture);
        return png ? QImage::fromData(reinterpret_cast<const uchar*>(png->data()), static_cast<int>(png->size()), "PNG")
                   : QImage();
    }
    return {};
}

void JournalController::showJournal() {
    if (!journalWindow_) {
        journalWindow_ = new JournalWindow(*this);
    }
    journalWindow_->show();
    journalWindow_->raise();
    journalWindow_->activateWindow();
}

void JournalController::showSummary(std::vector<std::uint64_t> visits) {
    if (visits.empty()) {
        return;
    }
    if (summaryWindow_ && summaryWindow_->isVisible()) {
        summaryWindow_->addVisits(visits);
    } else {
        delete summaryWindow_.data();
        summaryWindow_ = new AwaySummaryWindow(*this, std::move(visits));
    }
    summaryWindow_->show();
    summaryWindow_->raise();
    summaryWindow_->activateWindow();
}

}  // namespace tovak::app

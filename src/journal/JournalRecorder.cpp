#include "journal/JournalRecorder.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "monitor/ports/ObserverPair.h"

namespace tovak::journal {

namespace {

// The session's lock state for the monitor, and a copy of each change for the recorder.
class LockStateCopy final : public monitor::SessionLockWatcher {
  public:
    LockStateCopy(std::shared_ptr<monitor::SessionLockWatcher> watcher, std::function<void(bool)> copy)
        : watcher_(std::move(watcher)), copy_(std::move(copy)) {}
    [[nodiscard]] bool isAvailable() const override { return watcher_->isAvailable(); }
    void setOnChange(std::function<void(bool)> onChange) override {
        watcher_->setOnChange([onChange = std::move(onChange), copy = copy_](bool locked) {
            copy(locked);
            if (onChange) {
                onChange(locked);
            }
        });
    }

  private:
    std::shared_ptr<monitor::SessionLockWatcher> watcher_;
    std::function<void(bool)> copy_;
};

// Tells the recorder that a lock is asked, before asking it.
class LockRequestTap final : public monitor::ScreenLocker {
  public:
    LockRequestTap(std::shared_ptr<monitor::ScreenLocker> locker, std::function<void()> onRequest)
        : locker_(std::move(locker)), onRequest_(std::move(onRequest)) {}
    void lockNow(Completion completion) override {
        onRequest_();
        locker_->lockNow(std::move(completion));
    }
    [[nodiscard]] std::string lastLocker() const override { return locker_->lastLocker(); }

  private:
    std::shared_ptr<monitor::ScreenLocker> locker_;
    std::function<void()> onRequest_;
};

}  // namespace

std::shared_ptr<JournalRecorder> JournalRecorder::create(std::shared_ptr<runtime::TaskQueue> mainQueue,
                                                         std::shared_ptr<runtime::WallClock> wallClock) {
    return std::shared_ptr<JournalRecorder>(new JournalRecorder(std::move(mainQueue), std::move(wallClock)));
}

JournalRecorder::JournalRecorder(std::shared_ptr<runtime::TaskQueue> mainQueue,
                                 std::shared_ptr<runtime::WallClock> wallClock)
    : main_(std::move(mainQueue)), wall_(std::move(wallClock)) {}

void JournalRecorder::wire(monitor::Ports& ports) {
    const std::shared_ptr<JournalRecorder> self = shared_from_this();
    ports.observer = ports.observer ? std::make_shared<monitor::ObserverPair>(ports.observer, self)
                                    : std::shared_ptr<monitor::EngineObserver>(self);
    const std::weak_ptr<JournalRecorder> weak = self;
    if (ports.screenLock) {
        ports.screenLock = std::make_shared<LockRequestTap>(std::move(ports.screenLock), [weak] {
            if (const auto recorder = weak.lock()) {
                recorder->atNow(&JournalRecorder::lockRequested);
            }
        });
    }
    if (ports.lockWatcher) {
        ports.lockWatcher = std::make_shared<LockStateCopy>(std::move(ports.lockWatcher), [weak](bool locked) {
            if (const auto recorder = weak.lock()) {
                recorder->sessionLockChanged(locked);
            }
        });
    }
}

void JournalRecorder::watch(monitor::PrivacyMonitor& monitor) {
    const std::weak_ptr<JournalRecorder> weak = weak_from_this();
    monitor.awayMode.observe([weak](const bool& on) {
        if (const auto recorder = weak.lock()) {
            recorder->awayModeChanged(on);
        }
    });
    monitor.isRunning.observe([weak](const bool& running) {
        if (const auto recorder = weak.lock()) {
            recorder->monitoringChanged(running);
        }
    });
    awayModeChanged(monitor.awayMode.get());
    monitoringChanged(monitor.isRunning.get());
}

void JournalRecorder::atNow(void (JournalRecorder::*step)(double)) {
    main_->async([weak = weak_from_this(), step, at = wall_->now()] {
        if (const auto self = weak.lock()) {
            ((*self).*step)(at);
        }
    });
}

// ---- the engine's calls (session queue) ------------------------------------------------------

void JournalRecorder::presenceConfirmed() {
    atNow(&JournalRecorder::onlookerConfirmedAt);
}

void JournalRecorder::presenceEnded() {
    atNow(&JournalRecorder::onlookerEndedAt);
}

void JournalRecorder::documentRaised() {
    atNow(&JournalRecorder::raisedAt);
}

void JournalRecorder::visitorConfirmed() {
    atNow(&JournalRecorder::visitorConfirmedAt);
}

void JournalRecorder::visitorEnded() {
    atNow(&JournalRecorder::visitorEndedAt);
}

void JournalRecorder::cameraPaused(monitor::CameraPause reason) {
    main_->async([weak = weak_from_this(), reason, at = wall_->now()] {
        if (const auto self = weak.lock()) {
            self->pausedAt(reason, at);
        }
    });
}

void JournalRecorder::cameraResumed() {
    atNow(&JournalRecorder::resumedAt);
}

void JournalRecorder::leaveLock(monitor::LeaveLock step, double delaySeconds) {
    if (step != monitor::LeaveLock::requested) {
        return;
    }
    main_->async([weak = weak_from_this(), delaySeconds, at = wall_->now()] {
        if (const auto self = weak.lock()) {
            self->leaveLockAskedAt(delaySeconds, at);
        }
    });
}

// ---- main queue --------------------------------------------------------------------------------

void JournalRecorder::onlookerConfirmedAt(double at) {
    // An episode still open was dropped without an end (a pause, away mode): it ends here at the latest.
    closeOnlooker(at);
    onlooker_ = OpenOnlooker{at, 0};
}

void JournalRecorder::onlookerEndedAt(double at) {
    closeOnlooker(at);
}

void JournalRecorder::raisedAt(double) {
    if (onlooker_) {
        ++onlooker_->raises;
    }
}

void JournalRecorder::visitorConfirmedAt(double at) {
    if (visit_) {
        visitorEndedAt(at);
    }
    visit_ = OpenVisit{at, LockOutcome::notAsked, {}, nullptr};
}

void JournalRecorder::lockRequested(double) {
    if (visit_ && visit_->lock == LockOutcome::notAsked) {
        visit_->lock = LockOutcome::pending;
    }
}

void JournalRecorder::leaveLockAskedAt(double delaySeconds, double at) {
    closeLeave(LockOutcome::pending, {});
    leave_ = OpenLeave{at - delaySeconds, at};
}

void JournalRecorder::closeLeave(LockOutcome outcome, const std::string& text) {
    if (!leave_) {
        return;
    }
    Incident incident;
    incident.kind = IncidentKind::leave;
    incident.start = leave_->start;
    incident.end = leave_->end;
    incident.lock = outcome;
    incident.lockText = text;
    leave_.reset();
    write(incident);
    record(std::move(incident));
}

void JournalRecorder::lockFinished(bool success, const std::optional<std::string>& message) {
    const LockOutcome outcome = success ? LockOutcome::locked : LockOutcome::failed;
    const std::string text = success ? std::string() : message.value_or(std::string());
    // While the leave lock is asked no visitor's lock is: the answer is the leave lock's.
    if (leave_) {
        closeLeave(outcome, text);
        return;
    }
    if (visit_) {
        visit_->lock = outcome;
        visit_->lockText = text;
        return;
    }
    if (awaitingLock_.empty()) {
        return;
    }
    const std::uint64_t id = awaitingLock_.back();
    awaitingLock_.pop_back();
    journal_.update(id, [&](Incident& visit) {
        visit.lock = outcome;
        visit.lockText = text;
    });
    if (const Incident* visit = journal_.find(id)) {
        write(*visit);
    }
}

void JournalRecorder::visitorEndedAt(double at) {
    if (!visit_) {
        return;
    }
    Incident incident;
    incident.kind = IncidentKind::visit;
    incident.start = visit_->start;
    incident.end = at;
    // The engine shows the close-up at every confirmed visit.
    incident.closeup = true;
    incident.lock = visit_->lock;
    incident.lockText = visit_->lockText;
    if (visit_->closeup) {
        incident.image = visitorPicture(*visit_->closeup);
    }
    visit_.reset();
    if (incident.image && store_ && keepPictures_) {
        if (std::optional<std::string> name = store_->savePicture(incident.start, *incident.image)) {
            incident.picture = std::move(*name);
        } else if (!failureShown_ && onStatus_) {
            failureShown_ = true;
            onStatus_("Журнал: запись не удалась");
        }
    }
    const bool waitForLock = incident.lock == LockOutcome::pending;
    if (!waitForLock) {
        write(incident);
    }
    const std::uint64_t id = record(std::move(incident));
    if (away_) {
        awayVisits_.push_back(id);
    }
    if (waitForLock) {
        awaitingLock_.push_back(id);
    }
}

void JournalRecorder::pausedAt(monitor::CameraPause reason, double at) {
    // The engine forgets the onlooker when the camera goes off.
    closeOnlooker(at);
    closePause(at);
    pause_ = OpenPause{reason, at};
}

void JournalRecorder::resumedAt(double at) {
    closePause(at);
}

void JournalRecorder::awayModeChanged(bool on) {
    if (on == away_) {
        return;
    }
    away_ = on;
    if (on) {
        // Away mode forgets the onlooker.
        closeOnlooker(now());
        awayVisits_.clear();
        return;
    }
    summaryWaiting_.insert(summaryWaiting_.end(), awayVisits_.begin(), awayVisits_.end());
    awayVisits_.clear();
    offerSummary();
}

void JournalRecorder::monitoringChanged(bool running) {
    if (running == running_) {
        return;
    }
    running_ = running;
    if (!running) {
        const double at = now();
        closeOnlooker(at);
        visitorEndedAt(at);
        closePause(at);
    }
}

void JournalRecorder::sessionLockChanged(bool locked) {
    locked_ = locked;
    if (!locked) {
        offerSummary();
    }
}

void JournalRecorder::closeupShown(const imaging::Image& picture) {
    // Only a visitor's face: a picture outside a visit is nobody's to keep.
    if (visit_ && picture.bitmap) {
        visit_->closeup = picture.bitmap;
    }
}

void JournalRecorder::closeOnlooker(double at) {
    if (!onlooker_) {
        return;
    }
    Incident incident;
    incident.kind = IncidentKind::onlooker;
    incident.start = onlooker_->start;
    incident.end = at;
    incident.raises = onlooker_->raises;
    onlooker_.reset();
    write(incident);
    record(std::move(incident));
}

void JournalRecorder::closePause(double at) {
    if (!pause_) {
        return;
    }
    Incident incident;
    incident.kind = IncidentKind::pause;
    incident.reason = pause_->reason;
    incident.start = pause_->start;
    incident.end = at;
    pause_.reset();
    write(incident);
    record(std::move(incident));
}

std::uint64_t JournalRecorder::record(Incident incident) {
    const std::uint64_t id = journal_.add(std::move(incident));
    journal_.dropBefore(now() - JournalStore::keepSeconds);
    return id;
}

void JournalRecorder::write(const Incident& incident) {
    if (!store_) {
        return;
    }
    if (store_->append(incident)) {
        failureShown_ = false;
    } else if (!failureShown_) {
        failureShown_ = true;
        if (onStatus_) {
            onStatus_("Журнал: запись не удалась");
        }
    }
}

void JournalRecorder::offerSummary() {
    if (locked_ || summaryWaiting_.empty()) {
        return;
    }
    std::vector<std::uint64_t> visits;
    for (const std::uint64_t id : summaryWaiting_) {
        if (journal_.find(id) != nullptr) {
            visits.push_back(id);
        }
    }
    summaryWaiting_.clear();
    if (!visits.empty() && onSummary_) {
        onSummary_(std::move(visits));
    }
}

void JournalRecorder::keepIn(std::shared_ptr<JournalStore> store, bool keepPictures) {
    store_ = std::move(store);
    keepPictures_ = store_ && keepPictures;
    failureShown_ = false;
}

void JournalRecorder::addLoaded(std::vector<Incident> incidents) {
    for (Incident& incident : incidents) {
        journal_.add(std::move(incident));
    }
}

void JournalRecorder::clear() {
    awayVisits_.clear();
    summaryWaiting_.clear();
    awaitingLock_.clear();
    journal_.clear();
}

void JournalRecorder::finish() {
    const double at = now();
    closeOnlooker(at);
    visitorEndedAt(at);
    closePause(at);
    closeLeave(LockOutcome::pending, {});
    for (const std::uint64_t id : awaitingLock_) {
        if (const Incident* visit = journal_.find(id)) {
            write(*visit);
        }
    }
    awaitingLock_.clear();
}

imaging::PixelBufferPtr JournalRecorder::visitorPicture(const imaging::PixelBuffer& closeup) {
    const cv::Mat& full = closeup.mat();
    if (full.cols <= 0 || full.rows <= 0) {
        return nullptr;
    }
    // The face is fitted into the middle of the screen on black: find its edges along the middle
    // row and column, then take the largest square in the middle of it.
    const auto dark = [&full](int x, int y) {
        const cv::Vec4b& pixel = full.at<cv::Vec4b>(y, x);
        return pixel[0] <= 2 && pixel[1] <= 2 && pixel[2] <= 2;
    };
    int left = 0, right = full.cols - 1, top = 0, bottom = full.rows - 1;
    while (left < right && dark(left, full.rows / 2)) {
        ++left;
    }
    while (right > left && dark(right, full.rows / 2)) {
        --right;
    }
    while (top < bottom && dark(full.cols / 2, top)) {
        ++top;
    }
    while (bottom > top && dark(full.cols / 2, bottom)) {
        --bottom;
    }
    cv::Rect content(left, top, right - left + 1, bottom - top + 1);
    if (content.width < pictureSide / 4 || content.height < pictureSide / 4) {
        content = cv::Rect(0, 0, full.cols, full.rows);
    }
    const int side = std::min(content.width, content.height);
    const cv::Mat square =
        full(cv::Rect(content.x + (content.width - side) / 2, content.y + (content.height - side) / 2, side, side));
    cv::Mat picture;
    cv::resize(square, picture, cv::Size(pictureSide, pictureSide), 0, 0,
               side > pictureSide ? cv::INTER_AREA : cv::INTER_LINEAR);
    return std::make_shared<const imaging::PixelBuffer>(std::move(picture));
}

}  // namespace tovak::journal

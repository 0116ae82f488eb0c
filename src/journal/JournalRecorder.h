#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imaging/PixelBuffer.h"
#include "journal/Journal.h"
#include "journal/JournalStore.h"
#include "monitor/PrivacyMonitor.h"
#include "monitor/ports/EngineObserver.h"
#include "runtime/Clock.h"
#include "runtime/TaskQueue.h"

namespace tovak::journal {

// Turns what the engine decides into journal entries: onlooker episodes with the decoy's raises,
// visits in away mode with the close-up and the lock's outcome, and the camera's pauses. Entries
// are made when the incident ends, kept in memory and, when a store is given, appended to it.
//
// Threads: the engine's calls arrive on the session queue; each only reads the calendar clock and
// carries its time to the main queue, where all the state lives. Everything else is main thread.
class JournalRecorder final : public monitor::EngineObserver, public std::enable_shared_from_this<JournalRecorder> {
  public:
    static std::shared_ptr<JournalRecorder> create(std::shared_ptr<runtime::TaskQueue> mainQueue,
                                                   std::shared_ptr<runtime::WallClock> wallClock);

    // Puts the recorder into the monitor's ports: it hears the engine (beside any observer there),
    // the lock being asked, and the session's lock state. Call before the monitor is made.
    void wire(monitor::Ports& ports);
    // Follows the monitor's away mode and whether it runs. Main thread, after it was made.
    void watch(monitor::PrivacyMonitor& monitor);

    // monitor::EngineObserver, session queue (lockFinished: main queue).
    void frameAnalysed(std::size_t) override {}
    void presenceConfirmed() override;
    void presenceEnded() override;
    void documentRaised() override;
    void visitorConfirmed() override;
    void visitorEnded() override;
    void lockFinished(bool success, const std::optional<std::string>& message) override;
    void cameraPaused(monitor::CameraPause reason) override;
    void cameraResumed() override;
    void leaveLock(monitor::LeaveLock step, double delaySeconds) override;

    // Main thread from here on.
    void awayModeChanged(bool on);
    void monitoringChanged(bool running);
    void sessionLockChanged(bool locked);
    // The picture the close-up shows now; the last one of a visit becomes its picture.
    void closeupShown(const imaging::Image& picture);

    // Where finished entries go besides memory (none: memory only), and whether the visitors'
    // pictures go with them. Entries made before are not written.
    void keepIn(std::shared_ptr<JournalStore> store, bool keepPictures);
    // A text for the status line, once per run of failed writes.
    void setOnStatus(std::function<void(const std::string&)> onStatus) { onStatus_ = std::move(onStatus); }
    // The visits of an away period that just ended, when there were any and the screen is not
    // locked (else at the unlock).
    void setOnAwaySummary(std::function<void(std::vector<std::uint64_t> visits)> onSummary) {
        onSummary_ = std::move(onSummary);
    }
    // Entries read from the store at start.
    void addLoaded(std::vector<Incident> incidents);
    // Empties the journal in memory; what a store kept is the store's to remove.
    void clear();
    // Writes the visits still waiting for the lock's answer; at the end of the program or replay.
    void finish();

    [[nodiscard]] Journal& journal() { return journal_; }
    [[nodiscard]] double now() const { return wall_->now(); }

    // The visitor's picture kept for a visit: the middle of the face the close-up shows on black, as
    // a square of pictureSide pixels.
    static constexpr int pictureSide = 240;
    [[nodiscard]] static imaging::PixelBufferPtr visitorPicture(const imaging::PixelBuffer& closeup);

  private:
    JournalRecorder(std::shared_ptr<runtime::TaskQueue> mainQueue, std::shared_ptr<runtime::WallClock> wallClock);

    // Runs step on the main queue with the calendar time of the call.
    void atNow(void (JournalRecorder::*step)(double));
    void lockRequested(double at);

    void onlookerConfirmedAt(double at);
    void onlookerEndedAt(double at);
    void raisedAt(double at);
    void visitorConfirmedAt(double at);
    void visitorEndedAt(double at);
    void pausedAt(monitor::CameraPause reason, double at);
    void resumedAt(double at);
    void leaveLockAskedAt(double delaySeconds, double at);
    // The leave lock's entry, with its answer or none yet (written as unanswered).
    void closeLeave(LockOutcome outcome, const std::string& text);

    void closeOnlooker(double at);
    void closePause(double at);
    std::uint64_t record(Incident incident);
    void write(const Incident& incident);
    void offerSummary();

    std::shared_ptr<runtime::TaskQueue> main_;
    std::shared_ptr<runtime::WallClock> wall_;
    Journal journal_;
    std::shared_ptr<JournalStore> store_;
    bool keepPictures_ = false;
    std::function<void(const std::string&)> onStatus_;
    std::function<void(std::vector<std::uint64_t>)> onSummary_;

    struct OpenOnlooker {
        double start;
        int raises;
    };
    struct OpenVisit {
        double start;
        LockOutcome lock = LockOutcome::notAsked;
        std::string lockText;
        imaging::PixelBufferPtr closeup;
    };
    struct OpenPause {
        monitor::CameraPause reason;
        double start;
    };
    std::optional<OpenOnlooker> onlooker_;
    std::optional<OpenVisit> visit_;
    std::optional<OpenPause> pause_;
    // The lock when the user left, asked and waiting for its answer.
    struct OpenLeave {
        double start;
        double end;
    };
    std::optional<OpenLeave> leave_;
    bool running_ = false;
    bool away_ = false;
    bool locked_ = false;
    std::vector<std::uint64_t> awayVisits_;
    std::vector<std::uint64_t> summaryWaiting_;
    // Visits that ended before their lock answered: written when it does.
    std::vector<std::uint64_t> awaitingLock_;
    bool failureShown_ = false;
};

}  // namespace tovak::journal

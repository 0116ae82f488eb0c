#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tovak::audit {

// What the trail records; each kind has one MESSAGE_ID for good.
enum class AuditKind {
    started,
    ended,
    watchingStarted,
    watchingStopped,
    watchingPaused,
    watchingResumed,
    onlookerStarted,
    onlookerEnded,
    awayVisit,
    lockRequested,
    lockConfirmed,
    lockFailed,
    settingChanged,
};

struct AuditKindInfo {
    // TOVAK_EVENT's value.
    const char* event;
    // 128 bits, as journalctl MESSAGE_ID= takes them.
    const char* messageId;
    const char* message;
    // syslog priority: 6 info, 4 warning.
    int priority;
};
[[nodiscard]] const AuditKindInfo& auditKindInfo(AuditKind kind);

// The writer: records are queued by whoever calls record() and sent to the systemd journal with
// SYSLOG_IDENTIFIER=tovak by a thread of its own, so a slow journal never holds up the caller. Where
// no journal runs (its socket is missing at the start) the trail is off and writes nothing.
class AuditTrail {
  public:
    using Fields = std::vector<std::pair<std::string, std::string>>;

    // socketPath: the journal's native socket, whose presence says a journal runs.
    explicit AuditTrail(const std::string& socketPath = "/run/systemd/journal/socket");
    // Sends what is queued, then ends the thread.
    ~AuditTrail();
    AuditTrail(const AuditTrail&) = delete;
    AuditTrail& operator=(const AuditTrail&) = delete;

    [[nodiscard]] bool isOn() const { return thread_.joinable(); }
    // Any thread. Field names are upper case; MESSAGE_ID, MESSAGE, PRIORITY and TOVAK_EVENT are added.
    void record(AuditKind kind, Fields fields = {});

  private:
    struct Entry {
        AuditKind kind;
        Fields fields;
    };
    void run();
    static void send(const Entry& entry);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Entry> queue_;  // mutex_
    bool stopping_ = false;    // mutex_
    std::thread thread_;
};

}  // namespace tovak::audit

#include "headless/ReportingAdapters.h"

#include <cstdio>
#include <utility>

namespace tovak::headless {

void ReportingScreenLocker::lockNow(Completion completion) {
    log_.emit("lock.request");
    locker_->lockNow([this, completion = std::move(completion)](bool success, std::optional<std::string> message) {
        std::vector<EventLog::Field> fields{EventLog::flag("ok", success)};
        if (message) {
            fields.push_back(EventLog::text("text", *message));
        }
        log_.emit("lock.result", fields);
        completion(success, std::move(message));
    });
}

void DryRunScreenLocker::lockNow(Completion completion) {
    main_->async([completion = std::move(completion)] { completion(true, std::nullopt); });
}

void ReportingObserver::leaveLock(monitor::LeaveLock step, double delaySeconds) {
    switch (step) {
        case monitor::LeaveLock::armed: {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", delaySeconds);
            log_.emit("leave.armed", {EventLog::text("seconds", seconds)});
            return;
        }
        case monitor::LeaveLock::cancelled:
            log_.emit("leave.cancelled");
            return;
        case monitor::LeaveLock::requested:
            log_.emit("leave.lock");
            return;
    }
}

}  // namespace tovak::headless

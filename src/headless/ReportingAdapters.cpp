#include "headless/ReportingAdapters.h"

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

}  // namespace tovak::headless

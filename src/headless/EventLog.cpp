#include "headless/EventLog.h"

#include <cstdio>

#include "system/Json.h"

namespace tovak::headless {

void EventLog::frameDelivered(std::int64_t frameIndex) {
    std::lock_guard lock(mutex_);
    if (!origin_) {
        origin_ = clock_.now();
    }
    frame_ = frameIndex;
}

void EventLog::facesCounted(std::size_t faces) {
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        changed = reportFaceCounts_ && faces != faces_;
        faces_ = faces;
    }
    if (changed) {
        emit("faces");
    }
}

void EventLog::reportFaceCounts(bool on) {
    std::lock_guard lock(mutex_);
    reportFaceCounts_ = on;
}

std::size_t EventLog::eventCount() const {
    std::lock_guard lock(mutex_);
    return count_;
}

std::string EventLog::quoted(const std::string& text) {
    return system::Json::quote(text);
}

void EventLog::emit(const std::string& event, const std::vector<Field>& fields) {
    std::lock_guard lock(mutex_);
    // Before the first frame the clock has no origin yet: such events happen at 0.
    const double t = origin_ ? clock_.now() - *origin_ : 0.0;
    char head[96];
    std::snprintf(head, sizeof head, "{\"t\": %.3f, \"frame\": %lld, \"faces\": %zu, \"event\": ", t < 0 ? 0.0 : t,
                  static_cast<long long>(frame_), faces_);
    std::string line = head + quoted(event);
    for (const Field& field : fields) {
        line += ", " + quoted(field.name) + ": ";
        if (field.text) {
            line += quoted(*field.text);
        } else {
            line += field.flag.value_or(false) ? "true" : "false";
        }
    }
    line += "}\n";
    out_ << line;
    out_.flush();
    ++count_;
}

}  // namespace tovak::headless

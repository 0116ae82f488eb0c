#include "headless/EventLog.h"

#include <cstdio>

namespace tovak::headless {

void EventLog::frameDelivered(std::int64_t frameIndex) {
    std::lock_guard lock(mutex_);
    if (!origin_) {
        origin_ = clock_.now();
    }
    frame_ = frameIndex;
}

void EventLog::facesCounted(std::size_t faces) {
    std::lock_guard lock(mutex_);
    faces_ = faces;
}

std::size_t EventLog::eventCount() const {
    std::lock_guard lock(mutex_);
    return count_;
}

std::string EventLog::quoted(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += ch;  // UTF-8 passes through as it is
                }
        }
    }
    return out + "\"";
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

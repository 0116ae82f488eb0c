#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/Clock.h"

namespace tovak::headless {

// One JSON object per line for every event, in the order the events happen:
// {"t": 12.367, "frame": 371, "faces": 2, "event": "trigger.raise", ...}. t counts seconds from
// the first frame, frame the delivered frames from 0, faces is the face count of the frame being
// processed (or of the last one). Any thread.
class EventLog {
  public:
    // A field an event carries besides the common ones.
    struct Field {
        std::string name;
        // Exactly one of these.
        std::optional<std::string> text;
        std::optional<bool> flag;
    };
    static Field text(std::string name, std::string value) { return Field{std::move(name), std::move(value), {}}; }
    static Field flag(std::string name, bool value) { return Field{std::move(name), {}, value}; }

    EventLog(std::ostream& out, const runtime::Clock& clock) : out_(out), clock_(clock) {}

    // A frame is about to be delivered; the first one sets the time origin.
    void frameDelivered(std::int64_t frameIndex);
    // A frame's faces, after the size filter; with reportFaceCounts, a "faces" event when the
    // count differs from the frame before's.
    void facesCounted(std::size_t faces);
    void reportFaceCounts(bool on);
    void emit(const std::string& event, const std::vector<Field>& fields = {});

    [[nodiscard]] std::size_t eventCount() const;

    // The text as a JSON string literal, quotes included.
    static std::string quoted(const std::string& text);

  private:
    std::ostream& out_;
    const runtime::Clock& clock_;
    mutable std::mutex mutex_;
    std::optional<double> origin_;
    std::int64_t frame_ = 0;
    std::size_t faces_ = 0;
    std::size_t count_ = 0;
    bool reportFaceCounts_ = false;
};

}  // namespace tovak::headless

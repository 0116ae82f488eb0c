#include "monitor/PresenceCounter.h"

namespace tovak::monitor {

PresenceCounter::Change PresenceCounter::seen() {
    ++confirmCount_;
    missCount_ = 0;
    if (confirmCount_ >= confirmNeeded_ && !active_) {
        active_ = true;
        return Change::confirmed;
    }
    return Change::none;
}

PresenceCounter::Change PresenceCounter::missed() {
    confirmCount_ = 0;
    ++missCount_;
    if (active_ && missCount_ >= missNeeded_) {
        active_ = false;
        missCount_ = 0;
        return Change::ended;
    }
    return Change::none;
}

bool PresenceCounter::reset() {
    const bool wasActive = active_;
    confirmCount_ = 0;
    missCount_ = 0;
    active_ = false;
    return wasActive;
}

}  // namespace tovak::monitor

#pragma once

#include <cstdint>

namespace tovak::monitor {

// Whether somebody is there, counted over frames: a run of frames that show them confirms the
// presence, a run of frames that do not ends it. The onlooker (two faces or more) and the visitor
// in away mode (one face) are each counted by one of these. Belongs to the session queue.
class PresenceCounter {
  public:
    enum class Change { none, confirmed, ended };

    PresenceCounter(std::int64_t confirmNeeded, std::int64_t missNeeded)
        : confirmNeeded_(confirmNeeded), missNeeded_(missNeeded) {}

    // A frame that shows them: the confirmNeeded-th in a row confirms a presence not yet active.
    Change seen();
    // A frame that does not: the missNeeded-th in a row ends an active presence.
    Change missed();
    // Forgets both runs and the presence; true when a presence was active.
    bool reset();

    [[nodiscard]] bool active() const { return active_; }

  private:
    std::int64_t confirmNeeded_;
    std::int64_t missNeeded_;
    std::int64_t confirmCount_ = 0;
    std::int64_t missCount_ = 0;
    bool active_ = false;
};

}  // namespace tovak::monitor

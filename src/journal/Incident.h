#pragma once

#include <cstdint>
#include <string>

#include "imaging/PixelBuffer.h"
#include "monitor/ports/EngineObserver.h"

namespace tovak::journal {

// What happened in front of the camera while monitoring was on.
enum class IncidentKind {
    // Somebody looked over the user's shoulder: from the confirmation to the end of the episode.
    onlooker,
    // Somebody at the unattended machine in away mode.
    visit,
    // The camera was off while monitoring stayed on (the reason says why), or was lost and found.
    pause,
    // The lock when the user left: from away mode switching itself on to the lock being asked.
    leave,
};

// What became of the lock asked during a visit.
enum class LockOutcome {
    // None was asked (the visitor left within the second before it).
    notAsked,
    // Asked, no answer yet; written as "unanswered" when monitoring ends before the answer.
    pending,
    locked,
    failed,
};

// One entry of the journal. Times are calendar seconds (since 1970, UTC).
struct Incident {
    // Tells entries apart in memory; not kept.
    std::uint64_t id = 0;
    IncidentKind kind = IncidentKind::onlooker;
    double start = 0;
    double end = 0;
    // Onlooker: how many times the decoy document was brought forward.
    int raises = 0;
    // Visit: the close-up was put on screen. Visit and leave: the lock's outcome and, when it failed,
    // its message.
    bool closeup = false;
    LockOutcome lock = LockOutcome::notAsked;
    std::string lockText;
    // Visit: the file name of the kept picture beside the journal, empty when none is kept.
    std::string picture;
    // Pause: why the camera was off.
    monitor::CameraPause reason = monitor::CameraPause::screenLocked;
    // Visit: the visitor's close-up, in memory only.
    imaging::PixelBufferPtr image;

    [[nodiscard]] double seconds() const { return end > start ? end - start : 0.0; }
};

}  // namespace tovak::journal

#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tovak::monitor {

// Why the camera is off while monitoring is on.
enum class CameraPause {
    // The screen is locked or the screensaver is up.
    screenLocked,
    // Another program asked for the camera.
    otherProgram,
    // The user asked for a pause.
    user,
    // The camera went away (unplugged, or taken before Tovak could step aside); looked for again.
    cameraLost,
};

// The lock when the user leaves: armed as away mode switched itself on, cancelled (a face back, away
// mode switched, the screen locked meanwhile), or asked of the lock chain now.
enum class LeaveLock { armed, cancelled, requested };

// Optional listener for what the engine decides, for event logs, replays and the journal. Called
// on the session queue, in the order of the decisions, except lockFinished (main queue).
class EngineObserver {
  public:
    virtual ~EngineObserver() = default;
    // A frame's faces after the size filter, before any decision of that frame.
    virtual void frameAnalysed(std::size_t faceCount) = 0;
    // An onlooker confirmed and gone.
    virtual void presenceConfirmed() = 0;
    virtual void presenceEnded() = 0;
    // The trigger document asked to come forward (at the confirmation and every 2 s after).
    virtual void documentRaised() {}
    // Somebody at the unattended machine: confirmed (the close-up shows), and gone or no longer
    // counted (away mode ended, a second face, a pause).
    virtual void visitorConfirmed() {}
    virtual void visitorEnded() {}
    // The lock's outcome: message is set exactly when it failed.
    virtual void lockFinished(bool success, const std::optional<std::string>& message) {
        static_cast<void>(success), static_cast<void>(message);
    }
    // The lock when the user leaves, with its delay in seconds.
    virtual void leaveLock(LeaveLock step, double delaySeconds) {
        static_cast<void>(step), static_cast<void>(delaySeconds);
    }
    // The camera went off while monitoring stays on, and came back.
    virtual void cameraPaused(CameraPause reason) { static_cast<void>(reason); }
    virtual void cameraResumed() {}
};

}  // namespace tovak::monitor

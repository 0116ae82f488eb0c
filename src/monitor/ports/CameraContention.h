#pragma once

#include <functional>
#include <string>

#include "monitor/ports/CameraSession.h"

namespace tovak::monitor {

// Tells when another program wants the camera, so that the monitor can step aside for a video call
// and take the camera back afterwards. A webcam streams to one program at a time.
class CameraContention {
  public:
    enum class Event {
        // Another program opened the camera.
        otherWants,
        // Nobody else has streamed from it for a while: it can be taken back.
        free,
        // The watch cannot be trusted any more (events lost, the camera gone); nothing more comes.
        lost,
        // A program kept opening the camera without streaming from it: it is no longer yielded to
        // for a while. Told once, with the program's name where it is known.
        ignored,
    };
    // Each event, and for ignored the program's name (empty when unknown).
    using OnEvent = std::function<void(Event, const std::string& program)>;

    virtual ~CameraContention() = default;
    // Starts watching the camera the device names; each event is told on any thread, never after
    // stopWatching returns. False when it cannot be watched (the monitor then keeps the camera).
    virtual bool watch(const CameraDevice& device, OnEvent onEvent) = 0;
    virtual void stopWatching() = 0;
    // The camera was refused as busy: "free" comes once nobody else streams from it.
    virtual void holdOff() = 0;
};

}  // namespace tovak::monitor

#pragma once

#include <cstddef>

namespace tovak::monitor {

// Optional listener for what the engine decides, for event logs and replays. Called on the session
// queue, in the order of the decisions.
class EngineObserver {
  public:
    virtual ~EngineObserver() = default;
    // A frame's faces after the size filter, before any decision of that frame.
    virtual void frameAnalysed(std::size_t faceCount) = 0;
    virtual void presenceConfirmed() = 0;
    virtual void presenceEnded() = 0;
};

}  // namespace tovak::monitor

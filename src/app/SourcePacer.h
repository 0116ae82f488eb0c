#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "sources/SourceCameraSession.h"

namespace tovak::app {

// Plays a recorded or generated source into its capture session in real time, like a camera:
// frames go out at their own timestamps while the session runs, and stop at the source's end.
class SourcePacer {
  public:
    explicit SourcePacer(std::shared_ptr<sources::SourceCameraSession> session);
    ~SourcePacer();
    SourcePacer(const SourcePacer&) = delete;
    SourcePacer& operator=(const SourcePacer&) = delete;

  private:
    void run();

    std::shared_ptr<sources::SourceCameraSession> session_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace tovak::app

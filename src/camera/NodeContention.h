#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "camera/CameraNodeWatcher.h"
#include "monitor/ports/CameraContention.h"

namespace tovak::camera {

// Another program wanting the camera, seen on its device node by a CameraNodeWatcher.
class NodeContention final : public monitor::CameraContention {
  public:
    // How events reach the monitor: at once, on the watcher's thread; or held until
    // deliverPending(), for a single-threaded runtime such as a replay's simulation.
    enum class Delivery { immediate, held };

    // node, when given, is watched instead of the camera's own (a file standing in for a camera's
    // node, for the demo and recorded files).
    explicit NodeContention(std::optional<std::string> node = std::nullopt, Delivery delivery = Delivery::immediate,
                            CameraNodeWatcher::Options options = {});
    ~NodeContention() override;
    NodeContention(const NodeContention&) = delete;
    NodeContention& operator=(const NodeContention&) = delete;

    bool watch(const monitor::CameraDevice& device, OnEvent onEvent) override;
    void stopWatching() override;
    void holdOff() override;

    // Held delivery: tells the events seen since the last call, on the calling thread.
    void deliverPending();

  private:
    std::optional<std::string> node_;
    Delivery delivery_;
    CameraNodeWatcher::Options options_;
    std::unique_ptr<CameraNodeWatcher> watcher_;
    OnEvent onEvent_;
    std::mutex mutex_;
    std::vector<std::pair<Event, std::string>> pending_;  // guarded by mutex_
};

}  // namespace tovak::camera

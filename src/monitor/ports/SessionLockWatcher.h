#pragma once

#include <functional>

namespace tovak::monitor {

// Whether the login session is locked or the screensaver is up, as the desktop tells it.
class SessionLockWatcher {
  public:
    virtual ~SessionLockWatcher() = default;
    // False where no lock state can be watched here; nothing is reported then.
    [[nodiscard]] virtual bool isAvailable() const = 0;
    // Each change, on the main queue: true when the screen is locked or the screensaver is active.
    virtual void setOnChange(std::function<void(bool locked)> onChange) = 0;
};

}  // namespace tovak::monitor

#pragma once

#include <functional>

namespace tovak::monitor {

// Whether the login session is locked, as the desktop tells it: a lock that needs the password to
// end. A screensaver that only blanks the screen (a mouse move ends it) is no lock.
class SessionLockWatcher {
  public:
    virtual ~SessionLockWatcher() = default;
    // False where no lock state can be watched here; nothing is reported then.
    [[nodiscard]] virtual bool isAvailable() const = 0;
    // Each change, on the main queue: true when the screen is locked, false when it was unlocked.
    virtual void setOnChange(std::function<void(bool locked)> onChange) = 0;
};

}  // namespace tovak::monitor

#pragma once

#include <map>
#include <optional>
#include <string>

namespace tovak::lock {

// What a screen locker's own settings say it does once its screensaver is up: whether it locks,
// and how long after the screensaver came up (until then a mouse move ends it without a password).
struct LockerPolicy {
    bool locks = false;
    double delaySeconds = 0;
    bool operator==(const LockerPolicy&) const = default;
};

// Whether the session is locked, from what the desktop tells: logind's LockedHint, and each
// screensaver's coming and going judged by its locker's own settings. A screensaver counts only
// when its lock is on and it has been up past its lock delay; one whose settings are unknown never
// counts (better a camera running behind a locked screen than away mode ended by a mouse move). A
// lock Tovak itself asked for and saw confirmed counts until that screensaver goes. Plain values,
// times in seconds on any one clock.
class SessionLockState {
  public:
    void setLockedHint(bool locked) { lockedHint_ = locked; }
    // service's screensaver came up (with what its settings say, none when unknown) or went.
    void screenSaverChanged(const std::string& service, bool active, std::optional<LockerPolicy> policy, double now);
    // Tovak's lock through service was confirmed: its screensaver reported itself active.
    void ownLockConfirmed(const std::string& service, double now);

    [[nodiscard]] bool locked(double now) const;
    // When locked() turns true by itself (a lock delay running out), if it will.
    [[nodiscard]] std::optional<double> nextChange(double now) const;

  private:
    struct Saver {
        double since = 0;
        std::optional<LockerPolicy> policy;
        bool ours = false;
    };
    [[nodiscard]] static std::optional<double> lockedFrom(const Saver& saver);

    bool lockedHint_ = false;
    std::map<std::string, Saver> active_;
};

}  // namespace tovak::lock

#pragma once

#include <sys/types.h>

#include <QDBusConnection>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tovak::testing {

// A temporary home and a private session bus and, on request, an X server with a real screen locker
// from a Debian package; all of it stops with the object. startLocker returns why it could not
// start (for GTEST_SKIP), empty when it did; then watch or lock on bus(); active() is the locker's
// own GetActive().
class LockerSession {
  public:
    struct Locker {
        const char* program;
        const char* service;  // object path and interface follow from it
        // gnome-screensaver 3.6 crashes half a second after locking where the X server has no
        // gamma ramps (Xvfb): it gets the Xorg dummy server.
        bool needsGamma;
    };
    static constexpr Locker mate{"mate-screensaver", "org.mate.ScreenSaver", false};
    static constexpr Locker gnome{"gnome-screensaver", "org.gnome.ScreenSaver", true};

    LockerSession();
    ~LockerSession();

    std::string startLocker(const Locker& locker);
    // Waits up to ten seconds for name to have an owner on the bus (or, owned false, none).
    bool waitForName(const QString& name, bool owned = true) const;
    [[nodiscard]] bool active() const;

    [[nodiscard]] QDBusConnection& bus() const { return *bus_; }
    [[nodiscard]] const QString& address() const { return address_; }
    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }
    [[nodiscard]] pid_t lockerPid() const { return locker_; }

  private:
    std::filesystem::path folder_;
    pid_t daemon_ = -1, display_ = -1, locker_ = -1;
    QString address_, connectionName_, service_;
    std::unique_ptr<QDBusConnection> bus_;
};

}  // namespace tovak::testing

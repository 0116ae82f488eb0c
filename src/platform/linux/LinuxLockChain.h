#pragma once

#include <QDBusConnection>
#include <optional>
#include <string>
#include <vector>

#include "system/ScreenLock.h"

namespace tovak::platform {

inline constexpr const char* linuxLockFailureMessage =
    "Блокировка не сработала: не найдена служба блокировки экрана (KDE, GNOME, Cinnamon, MATE, Xfce, logind).";

struct LinuxLockOptions {
    // xflock4's name on PATH, or its path.
    std::string xflock4 = "xflock4";
    // The login session to lock (XDG_SESSION_ID); none asks logind for the session of this process.
    std::optional<std::string> sessionId;
    // How long a locker may take to report the lock in place before it counts as not locked.
    double confirmSeconds = 3.0;
    // Bound of each D-Bus call and of xflock4.
    int callTimeoutMs = 5000;
};

// The Linux lockers, one row each, tried in order and each only where its D-Bus name has an owner.
// Several lockers answer "done" without locking (logind's Lock succeeds with no locker listening),
// so a row counts only when the lock is confirmed: GetActive() of the screensaver, or the
// session's LockedHint. The D-Bus calls block; run the chain off the main thread.
[[nodiscard]] system::LockChain linuxLockChain(QDBusConnection sessionBus, QDBusConnection systemBus,
                                               LinuxLockOptions options = {});

// The screensavers of the chain, in its order: each has one D-Bus name, object path and interface.
struct LinuxScreenSaver {
    const char* service;
    const char* path;
    const char* interface;
};
[[nodiscard]] std::vector<LinuxScreenSaver> linuxScreenSavers();

// The object path of the login session that logind locks (options.sessionId, or this process's).
[[nodiscard]] std::optional<QString> linuxLoginSessionPath(const QDBusConnection& systemBus,
                                                           const LinuxLockOptions& options);

}  // namespace tovak::platform

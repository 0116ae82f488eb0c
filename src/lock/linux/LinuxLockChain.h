#pragma once

#include <QDBusConnection>
#include <optional>
#include <string>
#include <vector>

#include "lock/ScreenLock.h"

namespace tovak::lock {

inline constexpr const char* linuxLockFailureMessage =
    "Блокировка не сработала: не найдена служба блокировки экрана (KDE, GNOME, Cinnamon, MATE, Xfce, logind).";

// "Блокировка не сработала: MATE не подтвердил блокировку." for the rows asked that never confirmed.
[[nodiscard]] std::string linuxUnconfirmedLockMessage(const std::vector<std::string>& rows);

struct LinuxLockOptions {
    // xflock4's name on PATH, or its path.
    std::string xflock4 = "xflock4";
    // The login session to lock (XDG_SESSION_ID); none asks logind for the session of this process.
    std::optional<std::string> sessionId;
    // From the lock request on, how long a locker may take to report the lock in place.
    double confirmSeconds = 3.0;
    // How long the lock request waits for its reply: MATE's screensaver locks and never answers.
    int requestTimeoutMs = 500;
    // Bound of every other D-Bus call (owner, session, state).
    int callTimeoutMs = 1000;
    double xflock4TimeoutSeconds = 5.0;
};

// The Linux lockers, one row each (KDE, GNOME, Cinnamon, MATE, Xfce, xflock4, logind), tried in
// order and each only where its D-Bus name has an owner (xflock4: where it is installed). A reply
// to Lock proves nothing either way (logind's Lock succeeds with no locker listening; MATE's locks
// without replying), nor does xflock4's exit status, so a row counts only when the lock is
// confirmed: GetActive() of the screensaver, or the session's LockedHint, asked until confirmSeconds
// after the request (after xflock4 exits). A request refused outright ends its row at once.
// With the defaults a row takes at most 4 s (logind 5 s, xflock4 8 s), the whole chain 33 s; the
// D-Bus calls block, so run the chain off the main thread.
[[nodiscard]] lock::LockChain linuxLockChain(QDBusConnection sessionBus, QDBusConnection systemBus,
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

}  // namespace tovak::lock

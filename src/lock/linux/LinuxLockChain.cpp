#include "lock/linux/LinuxLockChain.h"

#include <unistd.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "lock/linux/LinuxSessionLockWatcher.h"
#include "system/Process.h"

namespace tovak::lock {

namespace {

using lock::LockAttempt;
using Clock = std::chrono::steady_clock;

struct ScreenSaverRow {
    const char* label;
    const char* service;
    const char* path;
};

// KDE (and other desktops that answer to the freedesktop name), GNOME, Cinnamon, MATE, Xfce; the
// interface is named as the service.
constexpr ScreenSaverRow kScreenSavers[] = {
    {"KDE", "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver"},
    {"GNOME", "org.gnome.ScreenSaver", "/org/gnome/ScreenSaver"},
    {"Cinnamon", "org.cinnamon.ScreenSaver", "/org/cinnamon/ScreenSaver"},
    {"MATE", "org.mate.ScreenSaver", "/org/mate/ScreenSaver"},
    {"Xfce", "org.xfce.ScreenSaver", "/org/xfce/ScreenSaver"},
};

constexpr const char* kLogin = "org.freedesktop.login1";

QDBusMessage send(const QDBusConnection& bus, const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QList<QVariant>& arguments, int timeoutMs) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    // A locker that is gone stays gone: the bus must not start a fresh one behind the chain's back.
    message.setAutoStartService(false);
    return bus.call(message, QDBus::Block, std::max(timeoutMs, 1));
}

// One D-Bus call; the reply's arguments, or none on any error or time-out.
std::optional<QList<QVariant>> call(const QDBusConnection& bus, const QString& service, const QString& path,
                                    const QString& interface, const QString& method, const QList<QVariant>& arguments,
                                    int timeoutMs) {
    QDBusMessage reply = send(bus, service, path, interface, method, arguments, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return std::nullopt;
    }
    return reply.arguments();
}

// Sends Lock and waits a moment for the reply. None when the request went out (answered, or not
// answered in time: only the locker's state tells); otherwise the row's end: refused by the locker,
// or nobody there to take it (name gone, no such method).
std::optional<LockAttempt> request(const QDBusConnection& bus, const QString& service, const QString& path,
                                   const QString& interface, int timeoutMs) {
    QDBusMessage reply = send(bus, service, path, interface, QStringLiteral("Lock"), {}, timeoutMs);
    const QString error = reply.errorName();
    if (reply.type() == QDBusMessage::ReplyMessage || error == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        error == QLatin1String("org.freedesktop.DBus.Error.Timeout")) {
        return std::nullopt;
    }
    if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
        error == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
        error == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") ||
        error == QLatin1String("org.freedesktop.DBus.Error.UnknownObject")) {
        // Inhibit-only owners of the freedesktop name (power managers) have no Lock at all.
        return LockAttempt::unavailable;
    }
    return LockAttempt::unconfirmed;
}

bool hasOwner(const QDBusConnection& bus, const QString& name, int timeoutMs) {
    if (!bus.isConnected()) {
        return false;
    }
    auto reply = call(bus, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"), {name}, timeoutMs);
    return reply && !reply->isEmpty() && reply->front().toBool();
}

// Asks until the answer is yes or the deadline has passed; a locker may need a moment to fade in.
// Each question gets the time left (at most callTimeoutMs), so the deadline bounds the wait.
LockAttempt confirmedBy(Clock::time_point deadline, int callTimeoutMs, const std::function<bool(int)>& locked) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (locked(static_cast<int>(std::clamp<long long>(left, 50, callTimeoutMs)))) {
            return LockAttempt::locked;
        }
        if (Clock::now() >= deadline) {
            return LockAttempt::unconfirmed;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(100), deadline - Clock::now()));
    }
}

Clock::time_point deadlineAfter(double seconds) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

LockAttempt lockScreenSaver(const QDBusConnection& bus, const ScreenSaverRow& row, const LinuxLockOptions& options) {
    const QString service = QString::fromLatin1(row.service);
    if (!hasOwner(bus, service, options.callTimeoutMs)) {
        return LockAttempt::unavailable;
    }
    const QString path = QString::fromLatin1(row.path);
    const auto deadline = deadlineAfter(options.confirmSeconds);
    if (std::optional<LockAttempt> end = request(bus, service, path, service, options.requestTimeoutMs)) {
        return *end;
    }
    const LockAttempt attempt = confirmedBy(deadline, options.callTimeoutMs, [&](int timeoutMs) {
        auto active = call(bus, service, path, service, QStringLiteral("GetActive"), {}, timeoutMs);
        return active && !active->isEmpty() && active->front().toBool();
    });
    if (attempt == LockAttempt::locked) {
        // Locked on request whatever its idle settings say: the lock-state watchers count it.
        LinuxSessionLockWatcher::noteOwnLock(service);
    }
    return attempt;
}

std::optional<QString> currentSessionPath(const QDBusConnection& bus, const LinuxLockOptions& options) {
    const QString service = QString::fromLatin1(kLogin);
    const QString manager = QStringLiteral("/org/freedesktop/login1");
    const QString interface = QStringLiteral("org.freedesktop.login1.Manager");
    std::optional<QList<QVariant>> reply;
    if (options.sessionId && !options.sessionId->empty()) {
        reply = call(bus, service, manager, interface, QStringLiteral("GetSession"),
                     {QString::fromStdString(*options.sessionId)}, options.callTimeoutMs);
    } else {
        reply = call(bus, service, manager, interface, QStringLiteral("GetSessionByPID"),
                     {QVariant::fromValue(static_cast<uint>(::getpid()))}, options.callTimeoutMs);
    }
    if (!reply || reply->isEmpty()) {
        return std::nullopt;
    }
    const QString path = reply->front().value<QDBusObjectPath>().path();
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path;
}

bool lockedHint(const QDBusConnection& bus, const QString& session, int timeoutMs) {
    auto hint = call(bus, QString::fromLatin1(kLogin), session, QStringLiteral("org.freedesktop.DBus.Properties"),
                     QStringLiteral("Get"),
                     {QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("LockedHint")}, timeoutMs);
    return hint && !hint->isEmpty() && hint->front().value<QDBusVariant>().variant().toBool();
}

LockAttempt lockLoginSession(const QDBusConnection& bus, const LinuxLockOptions& options) {
    const QString service = QString::fromLatin1(kLogin);
    if (!hasOwner(bus, service, options.callTimeoutMs)) {
        return LockAttempt::unavailable;
    }
    std::optional<QString> session = currentSessionPath(bus, options);
    if (!session) {
        return LockAttempt::unavailable;
    }
    // Named explicitly: the "self" session of a process started outside one would be the wrong one.
    const auto deadline = deadlineAfter(options.confirmSeconds);
    if (std::optional<LockAttempt> end = request(
            bus, service, *session, QStringLiteral("org.freedesktop.login1.Session"), options.requestTimeoutMs)) {
        return *end;
    }
    return confirmedBy(deadline, options.callTimeoutMs,
                       [&](int timeoutMs) { return lockedHint(bus, *session, timeoutMs); });
}

// xflock4 hands the request to whichever locker the desktop has (Xfce's screensaver, light-locker,
// xscreensaver, the display manager) and exits non-zero when it finds none. Its zero says only that
// one was asked: the lock counts once the Xfce screensaver is active or logind marks the session
// locked, as light-locker and the display managers do.
LockAttempt lockWithXflock4(const QDBusConnection& sessionBus, const QDBusConnection& systemBus,
                            const LinuxLockOptions& options) {
    std::optional<std::string> path = options.xflock4.find('/') == std::string::npos
                                          ? system::findExecutableInPath(options.xflock4)
                                          : std::optional<std::string>(options.xflock4);
    if (!path || !system::runToolAndWait(*path, {}, options.xflock4TimeoutSeconds)) {
        return LockAttempt::unavailable;
    }
    const auto deadline = deadlineAfter(options.confirmSeconds);
    const std::optional<QString> session =
        systemBus.isConnected() ? currentSessionPath(systemBus, options) : std::nullopt;
    const QString xfce = QStringLiteral("org.xfce.ScreenSaver");
    bool xfceActive = false;
    const LockAttempt attempt = confirmedBy(deadline, options.callTimeoutMs, [&](int timeoutMs) {
        auto active = sessionBus.isConnected() ? call(sessionBus, xfce, QStringLiteral("/org/xfce/ScreenSaver"), xfce,
                                                      QStringLiteral("GetActive"), {}, timeoutMs)
                                               : std::nullopt;
        xfceActive = active && !active->isEmpty() && active->front().toBool();
        return xfceActive || (session && lockedHint(systemBus, *session, timeoutMs));
    });
    if (xfceActive) {
        LinuxSessionLockWatcher::noteOwnLock(xfce);
    }
    return attempt;
}

}  // namespace

std::string linuxUnconfirmedLockMessage(const std::vector<std::string>& rows) {
    std::string names;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        names += (i == 0 ? "" : i + 1 == rows.size() ? " и " : ", ") + rows[i];
    }
    return "Блокировка не сработала: " + names +
           (rows.size() == 1 ? " не подтвердил блокировку." : " не подтвердили блокировку.");
}

lock::LockChain linuxLockChain(QDBusConnection sessionBus, QDBusConnection systemBus, LinuxLockOptions options) {
    lock::LockChain chain;
    chain.failureMessage = linuxLockFailureMessage;
    chain.unconfirmedMessage = linuxUnconfirmedLockMessage;
    for (const ScreenSaverRow& row : kScreenSavers) {
        chain.methods.emplace_back(row.label,
                                   [sessionBus, row, options] { return lockScreenSaver(sessionBus, row, options); });
    }
    chain.methods.emplace_back(
        "xflock4", [sessionBus, systemBus, options] { return lockWithXflock4(sessionBus, systemBus, options); });
    chain.methods.emplace_back("logind", [systemBus, options] { return lockLoginSession(systemBus, options); });
    return chain;
}

std::vector<LinuxScreenSaver> linuxScreenSavers() {
    std::vector<LinuxScreenSaver> rows;
    for (const ScreenSaverRow& row : kScreenSavers) {
        rows.push_back({row.service, row.path, row.service});
    }
    return rows;
}

std::optional<QString> linuxLoginSessionPath(const QDBusConnection& systemBus, const LinuxLockOptions& options) {
    return currentSessionPath(systemBus, options);
}

}  // namespace tovak::lock

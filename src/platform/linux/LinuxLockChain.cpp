#include "platform/linux/LinuxLockChain.h"

#include <unistd.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <chrono>
#include <functional>
#include <thread>

#include "system/Process.h"

namespace tovak::platform {

namespace {

struct ScreenSaverRow {
    const char* label;
    const char* service;
    const char* path;
    const char* interface;
};

// KDE (and other desktops that answer to the freedesktop name), GNOME, Cinnamon, MATE, Xfce.
constexpr ScreenSaverRow kScreenSavers[] = {
    {"org.freedesktop.ScreenSaver", "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
     "org.freedesktop.ScreenSaver"},
    {"org.gnome.ScreenSaver", "org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
    {"org.cinnamon.ScreenSaver", "org.cinnamon.ScreenSaver", "/org/cinnamon/ScreenSaver", "org.cinnamon.ScreenSaver"},
    {"org.mate.ScreenSaver", "org.mate.ScreenSaver", "/org/mate/ScreenSaver", "org.mate.ScreenSaver"},
    {"org.xfce.ScreenSaver", "org.xfce.ScreenSaver", "/org/xfce/ScreenSaver", "org.xfce.ScreenSaver"},
};

constexpr const char* kLogin = "org.freedesktop.login1";

// One D-Bus call; the reply's arguments, or none on any error or time-out.
std::optional<QList<QVariant>> call(const QDBusConnection& bus, const QString& service, const QString& path,
                                    const QString& interface, const QString& method, const QList<QVariant>& arguments,
                                    int timeoutMs) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusMessage reply = bus.call(message, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return std::nullopt;
    }
    return reply.arguments();
}

bool hasOwner(const QDBusConnection& bus, const QString& name, int timeoutMs) {
    if (!bus.isConnected()) {
        return false;
    }
    auto reply = call(bus, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"), {name}, timeoutMs);
    return reply && !reply->isEmpty() && reply->front().toBool();
}

// Asks until the answer is yes or the time is up; a locker may need a moment to fade in.
bool confirmedWithin(double seconds, const std::function<bool()>& locked) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (locked()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool lockScreenSaver(const QDBusConnection& bus, const ScreenSaverRow& row, const LinuxLockOptions& options) {
    const QString service = QString::fromLatin1(row.service);
    if (!hasOwner(bus, service, options.callTimeoutMs)) {
        return false;
    }
    const QString path = QString::fromLatin1(row.path);
    const QString interface = QString::fromLatin1(row.interface);
    if (!call(bus, service, path, interface, QStringLiteral("Lock"), {}, options.callTimeoutMs)) {
        return false;
    }
    return confirmedWithin(options.confirmSeconds, [&] {
        auto active = call(bus, service, path, interface, QStringLiteral("GetActive"), {}, options.callTimeoutMs);
        return active && !active->isEmpty() && active->front().toBool();
    });
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

bool lockLoginSession(const QDBusConnection& bus, const LinuxLockOptions& options) {
    const QString service = QString::fromLatin1(kLogin);
    if (!hasOwner(bus, service, options.callTimeoutMs)) {
        return false;
    }
    std::optional<QString> session = currentSessionPath(bus, options);
    if (!session) {
        return false;
    }
    // Named explicitly: the "self" session of a process started outside one would be the wrong one.
    if (!call(bus, service, *session, QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("Lock"), {},
              options.callTimeoutMs)) {
        return false;
    }
    return confirmedWithin(options.confirmSeconds, [&] {
        auto hint = call(
            bus, service, *session, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
            {QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("LockedHint")}, options.callTimeoutMs);
        return hint && !hint->isEmpty() && hint->front().value<QDBusVariant>().variant().toBool();
    });
}

bool runXflock4(const LinuxLockOptions& options) {
    std::optional<std::string> path = options.xflock4.find('/') == std::string::npos
                                          ? system::findExecutableInPath(options.xflock4)
                                          : std::optional<std::string>(options.xflock4);
    return path && system::runToolAndWait(*path, {}, options.callTimeoutMs / 1000.0);
}

}  // namespace

system::LockChain linuxLockChain(QDBusConnection sessionBus, QDBusConnection systemBus, LinuxLockOptions options) {
    system::LockChain chain;
    chain.failureMessage = linuxLockFailureMessage;
    for (const ScreenSaverRow& row : kScreenSavers) {
        chain.methods.push_back(
            {row.label, [sessionBus, row, options] { return lockScreenSaver(sessionBus, row, options); }});
    }
    chain.methods.push_back({"xflock4", [options] { return runXflock4(options); }});
    chain.methods.push_back({"logind", [systemBus, options] { return lockLoginSession(systemBus, options); }});
    return chain;
}

std::vector<LinuxScreenSaver> linuxScreenSavers() {
    std::vector<LinuxScreenSaver> rows;
    for (const ScreenSaverRow& row : kScreenSavers) {
        rows.push_back({row.service, row.path, row.interface});
    }
    return rows;
}

std::optional<QString> linuxLoginSessionPath(const QDBusConnection& systemBus, const LinuxLockOptions& options) {
    return currentSessionPath(systemBus, options);
}

}  // namespace tovak::platform

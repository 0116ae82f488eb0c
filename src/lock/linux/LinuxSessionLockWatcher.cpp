#include "lock/linux/LinuxSessionLockWatcher.h"

#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <algorithm>
#include <chrono>
#include <climits>
#include <mutex>
#include <set>

#include "lock/linux/GSettingsLock.h"

namespace tovak::lock {

namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kLockedHint = QStringLiteral("LockedHint");

// The watchers alive, for the lock chain's confirmations.
std::mutex watchersMutex;
std::set<LinuxSessionLockWatcher*> watchers;

double steadyNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Xfce keeps its lock in xfconf, channel xfce4-screensaver: /lock/enabled and
// /lock/saver-activation/enabled, and /lock/saver-activation/delay in minutes, each at the
// locker's own default (on, on, 0) while unset.
std::optional<LockerPolicy> xfconfLockerPolicy(const QDBusConnection& bus, int timeoutMs) {
    const auto property = [&](const char* name, const QVariant& unset) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(QStringLiteral("org.xfce.Xfconf"), QStringLiteral("/org/xfce/Xfconf"),
                                           QStringLiteral("org.xfce.Xfconf"), QStringLiteral("GetProperty"));
        call.setArguments({QStringLiteral("xfce4-screensaver"), QString::fromLatin1(name)});
        call.setAutoStartService(false);
        const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            return reply.arguments().front().value<QDBusVariant>().variant();
        }
        return reply.errorName() == QLatin1String("org.xfce.Xfconf.Error.PropertyNotFound") ? unset : QVariant();
    };
    const QVariant enabled = property("/lock/enabled", true);
    const QVariant withSaver = property("/lock/saver-activation/enabled", true);
    const QVariant delay = property("/lock/saver-activation/delay", 0);
    const bool whole = delay.typeId() == QMetaType::Int || delay.typeId() == QMetaType::UInt;
    if (enabled.typeId() != QMetaType::Bool || withSaver.typeId() != QMetaType::Bool || !whole ||
        delay.toLongLong() < 0) {
        return std::nullopt;
    }
    return LockerPolicy{enabled.toBool() && withSaver.toBool(), delay.toDouble() * 60.0};
}

}  // namespace

std::optional<LockerPolicy> linuxLockerPolicy(const QString& service, const QDBusConnection& bus, int timeoutMs) {
    static const struct {
        const char* service;
        GSettingsLock settings;
    } kGSettings[] = {
        {"org.gnome.ScreenSaver", {"org.gnome.desktop.screensaver", "org.gnome.desktop.lockdown", 1.0}},
        {"org.cinnamon.ScreenSaver", {"org.cinnamon.desktop.screensaver", "org.cinnamon.desktop.lockdown", 1.0}},
        {"org.mate.ScreenSaver", {"org.mate.screensaver", "org.mate.lockdown", 60.0}},
    };
    for (const auto& row : kGSettings) {
        if (service == QLatin1String(row.service)) {
            return gsettingsLockerPolicy(row.settings);
        }
    }
    // The freedesktop name's owner varies; KDE's marks its lock in LockedHint.
    return service == QLatin1String("org.xfce.ScreenSaver") ? xfconfLockerPolicy(bus, timeoutMs) : std::nullopt;
}

LinuxSessionLockWatcher::LinuxSessionLockWatcher(QDBusConnection sessionBus, QDBusConnection systemBus,
                                                 LinuxLockOptions options)
    : sessionBus_(std::move(sessionBus)), systemBus_(std::move(systemBus)), options_(std::move(options)) {
    lockDelay_.setSingleShot(true);
    connect(&lockDelay_, &QTimer::timeout, this, &LinuxSessionLockWatcher::update);
    if (sessionBus_.isConnected()) {
        for (const LinuxScreenSaver& row : linuxScreenSavers()) {
            const QString service = QString::fromLatin1(row.service);
            // Subscribed even without an owner now: a screensaver started later is heard too.
            const bool subscribed = sessionBus_.connect(
                service, QString::fromLatin1(row.path), QString::fromLatin1(row.interface),
                QStringLiteral("ActiveChanged"), this, SLOT(screenSaverActiveChanged(bool, QDBusMessage)));
            QDBusConnectionInterface* bus = sessionBus_.interface();
            available_ = available_ || (subscribed && bus != nullptr && bus->isServiceRegistered(service).value());
        }
    }
    if (systemBus_.isConnected()) {
        if (std::optional<QString> path = linuxLoginSessionPath(systemBus_, options_)) {
            sessionPath_ = *path;
            available_ = systemBus_.connect(kLogin, sessionPath_, kProperties, QStringLiteral("PropertiesChanged"),
                                            this, SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList))) ||
                         available_;
        }
    }
    std::lock_guard lock(watchersMutex);
    watchers.insert(this);
}

LinuxSessionLockWatcher::~LinuxSessionLockWatcher() {
    // A confirmation posted before this returns is dropped with the object's pending events.
    std::lock_guard lock(watchersMutex);
    watchers.erase(this);
}

void LinuxSessionLockWatcher::noteOwnLock(const QString& service) {
    std::lock_guard lock(watchersMutex);
    for (LinuxSessionLockWatcher* watcher : watchers) {
        QMetaObject::invokeMethod(
            watcher,
            [watcher, service] {
                watcher->state_.ownLockConfirmed(service.toStdString(), steadyNow());
                watcher->update();
            },
            Qt::QueuedConnection);
    }
}

void LinuxSessionLockWatcher::screenSaverActiveChanged(bool active, const QDBusMessage& message) {
    // The interface is named as the service; its settings are read as it comes up, as the locker does.
    const QString service = message.interface();
    state_.screenSaverChanged(
        service.toStdString(), active,
        active ? linuxLockerPolicy(service, sessionBus_, options_.requestTimeoutMs) : std::nullopt, steadyNow());
    update();
}

void LinuxSessionLockWatcher::sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                       const QStringList& invalidated) {
    if (interface != kSessionInterface) {
        return;
    }
    if (changed.contains(kLockedHint)) {
        state_.setLockedHint(changed.value(kLockedHint).toBool());
    } else if (invalidated.contains(kLockedHint)) {
        // Announced without its value: ask for it.
        QDBusMessage get = QDBusMessage::createMethodCall(kLogin, sessionPath_, kProperties, QStringLiteral("Get"));
        get.setArguments({kSessionInterface, kLockedHint});
        const QDBusMessage reply = systemBus_.call(get, QDBus::Block, options_.callTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            state_.setLockedHint(reply.arguments().front().value<QDBusVariant>().variant().toBool());
        }
    }
    update();
}

void LinuxSessionLockWatcher::update() {
    const double now = steadyNow();
    const bool locked = state_.locked(now);
    if (const std::optional<double> next = state_.nextChange(now)) {
        lockDelay_.start(static_cast<int>(std::min((*next - now) * 1000.0 + 1.0, double(INT_MAX))));
    } else {
        lockDelay_.stop();
    }
    if (locked != reported_) {
        reported_ = locked;
        if (onChange_) {
            onChange_(locked);
        }
    }
}

}  // namespace tovak::lock

#include "lock/linux/LinuxSessionLockWatcher.h"

#include <QDBusConnectionInterface>
#include <QDBusVariant>

namespace tovak::lock {

namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kLockedHint = QStringLiteral("LockedHint");

}  // namespace

LinuxSessionLockWatcher::LinuxSessionLockWatcher(QDBusConnection sessionBus, QDBusConnection systemBus,
                                                 LinuxLockOptions options)
    : systemBus_(std::move(systemBus)), options_(std::move(options)) {
    if (sessionBus.isConnected()) {
        for (const LinuxScreenSaver& row : linuxScreenSavers()) {
            const QString service = QString::fromLatin1(row.service);
            // Subscribed even without an owner now: a screensaver started later is heard too.
            const bool subscribed = sessionBus.connect(
                service, QString::fromLatin1(row.path), QString::fromLatin1(row.interface),
                QStringLiteral("ActiveChanged"), this, SLOT(screenSaverActiveChanged(bool, QDBusMessage)));
            QDBusConnectionInterface* bus = sessionBus.interface();
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
}

void LinuxSessionLockWatcher::screenSaverActiveChanged(bool active, const QDBusMessage& message) {
    const bool wasLocked = isLocked();
    if (active) {
        activeScreenSavers_.insert(message.interface());
    } else {
        activeScreenSavers_.remove(message.interface());
    }
    reportIfChanged(wasLocked);
}

void LinuxSessionLockWatcher::sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                       const QStringList& invalidated) {
    if (interface != kSessionInterface) {
        return;
    }
    const bool wasLocked = isLocked();
    if (changed.contains(kLockedHint)) {
        sessionLocked_ = changed.value(kLockedHint).toBool();
    } else if (invalidated.contains(kLockedHint)) {
        // Announced without its value: ask for it.
        QDBusMessage get = QDBusMessage::createMethodCall(kLogin, sessionPath_, kProperties, QStringLiteral("Get"));
        get.setArguments({kSessionInterface, kLockedHint});
        const QDBusMessage reply = systemBus_.call(get, QDBus::Block, options_.callTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            sessionLocked_ = reply.arguments().front().value<QDBusVariant>().variant().toBool();
        }
    }
    reportIfChanged(wasLocked);
}

void LinuxSessionLockWatcher::reportIfChanged(bool wasLocked) {
    if (isLocked() != wasLocked && onChange_) {
        onChange_(isLocked());
    }
}

}  // namespace tovak::lock

#include "camera/linux/LogindLid.h"

#include <QDBusMessage>
#include <QDBusVariant>

#include "camera/linux/LidQuestion.h"

namespace tovak::camera {

namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kLidClosed = QStringLiteral("LidClosed");

}  // namespace

LogindLid::LogindLid(QDBusConnection systemBus, int timeoutMs) : bus_(std::move(systemBus)), timeoutMs_(timeoutMs) {
    if (bus_.isConnected()) {
        bus_.connect(kLogin, kManagerPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                     SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    }
}

bool logindLidClosed(const QDBusConnection& bus, int timeoutMs) {
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(kLogin, kManagerPath, kProperties, QStringLiteral("Get"));
    get.setArguments({kManager, kLidClosed});
    get.setAutoStartService(false);
    const QDBusMessage reply = bus.call(get, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    return reply.arguments().front().value<QDBusVariant>().variant().toBool();
}

std::function<bool()> systemLidQuestion(int timeoutMs) {
    return [bus = QDBusConnection::systemBus(), timeoutMs] { return logindLidClosed(bus, timeoutMs); };
}

void LogindLid::propertiesChanged(const QString& interface, const QVariantMap& changed,
                                  const QStringList& invalidated) {
    if (interface != kManager || !onChange_) {
        return;
    }
    if (changed.contains(kLidClosed)) {
        onChange_(changed.value(kLidClosed).toBool());
    } else if (invalidated.contains(kLidClosed)) {
        onChange_(closed());
    }
}

}  // namespace tovak::camera

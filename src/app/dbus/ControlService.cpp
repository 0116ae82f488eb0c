#include "app/dbus/ControlService.h"

#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <cmath>

namespace tovak::app {

ControlService::ControlService(monitor::PrivacyMonitor& monitor, QObject* parent) : QObject(parent), monitor_(monitor) {
    // Observers hear of a change before it is made: announce a turn later, once per burst.
    const auto later = [this](const auto&) { scheduleAnnouncement(); };
    const auto watch = [&](auto& published) {
        const auto token = published.observe(later);
        unobserve_.emplace_back([&published, token] { published.removeObserver(token); });
    };
    watch(monitor_.statusLine);
    watch(monitor_.isRunning);
    watch(monitor_.awayMode);
    watch(monitor_.pausedUntil);
    announced_ = properties();
}

ControlService::~ControlService() {
    for (auto& remove : unobserve_) {
        remove();
    }
    if (registered_) {
        bus_.unregisterObject(QString::fromLatin1(objectPath));
    }
}

ControlService::Claim ControlService::claimName(QDBusConnection bus) {
    if (!bus.isConnected() || bus.interface() == nullptr) {
        return Claim::noBus;
    }
    // Never queued behind another owner and never handed over: a second Tovak is refused.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(QString::fromLatin1(serviceName), QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        return Claim::noBus;
    }
    return reply.value() == QDBusConnectionInterface::ServiceRegistered ? Claim::claimed : Claim::taken;
}

bool ControlService::publish(QDBusConnection bus) {
    bus_ = bus;
    registered_ = bus_.registerObject(QString::fromLatin1(objectPath), this,
                                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    return registered_;
}

QString ControlService::state() const {
    if (!monitor_.isRunning.get()) {
        return QStringLiteral("stopped");
    }
    return monitor_.pausedUntil.get() ? QStringLiteral("paused") : QStringLiteral("watching");
}

bool ControlService::away() const {
    return monitor_.awayMode.get();
}

qlonglong ControlService::pausedUntil() const {
    const std::optional<double> until = monitor_.pausedUntil.get();
    return until && monitor_.isRunning.get() ? static_cast<qlonglong>(std::ceil(*until)) : 0;
}

QString ControlService::status() const {
    return QString::fromStdString(monitor_.statusLine.get());
}

bool ControlService::callerIsUser() {
    if (!calledFromDBus()) {
        return true;
    }
    const QDBusReply<uint> uid = connection().interface()->serviceUid(message().service());
    if (uid.isValid() && uid.value() == ::getuid()) {
        return true;
    }
    sendErrorReply(QStringLiteral("org.tovak.Tovak1.Error.NotAllowed"),
                   QStringLiteral("Товак слушается только своего пользователя"));
    return false;
}

void ControlService::Start() {
    if (callerIsUser()) {
        monitor_.start();
    }
}

void ControlService::Stop() {
    // A stop is a pause without end: where pauses are limited only the window's own button stops.
    if (callerIsUser() && !refusedByAdministrator(std::nullopt)) {
        monitor_.stop();
    }
}

void ControlService::StepAway() {
    if (callerIsUser()) {
        monitor_.setAwayMode(true);
    }
}

void ControlService::ComeBack() {
    if (callerIsUser()) {
        monitor_.setAwayMode(false);
    }
}

void ControlService::Pause(uint seconds) {
    if (!callerIsUser()) {
        return;
    }
    if (seconds < 1 || seconds > maxPauseSeconds) {
        sendErrorReply(QStringLiteral("org.tovak.Tovak1.Error.BadPause"), QStringLiteral("Пауза: от 1 с до 24 ч"));
        return;
    }
    if (refusedByAdministrator(seconds)) {
        return;
    }
    // A pause needs a camera to switch off: a stopped Tovak would quietly do nothing.
    if (!monitor_.isRunning.get()) {
        sendErrorReply(QStringLiteral("org.tovak.Tovak1.Error.Stopped"),
                       QStringLiteral("Товак остановлен: ставить на паузу нечего"));
        return;
    }
    monitor_.pauseFor(seconds);
}

void ControlService::Resume() {
    if (callerIsUser()) {
        monitor_.resume();
    }
}

bool ControlService::refusedByAdministrator(std::optional<unsigned> pauseSeconds) {
    if (!longestPause_ || (pauseSeconds && *pauseSeconds <= *longestPause_)) {
        return false;
    }
    const QString message = !pauseSeconds ? QStringLiteral("Остановку запретил администратор")
                            : *longestPause_ == 0 ? QStringLiteral("Паузу запретил администратор")
                                                  : QStringLiteral("Администратор разрешает паузу не дольше %1 мин")
                                                        .arg(QString::number(*longestPause_ / 60.0, 'g', 3));
    sendErrorReply(QStringLiteral("org.tovak.Tovak1.Error.SetByAdministrator"), message);
    return true;
}

QVariantMap ControlService::properties() const {
    return {{QStringLiteral("State"), state()},
            {QStringLiteral("Away"), away()},
            {QStringLiteral("PausedUntil"), pausedUntil()},
            {QStringLiteral("Status"), status()}};
}

void ControlService::scheduleAnnouncement() {
    if (!announcementQueued_) {
        announcementQueued_ = true;
        QMetaObject::invokeMethod(this, &ControlService::announce, Qt::QueuedConnection);
    }
}

void ControlService::announce() {
    announcementQueued_ = false;
    const QVariantMap now = properties();
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it) {
        if (announced_.value(it.key()) != it.value()) {
            changed.insert(it.key(), it.value());
        }
    }
    announced_ = now;
    if (changed.isEmpty() || !registered_) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(objectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(serviceName) << changed << QStringList();
    bus_.send(signal);
}

}  // namespace tovak::app

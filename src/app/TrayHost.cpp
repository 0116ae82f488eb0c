#include "app/TrayHost.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>

namespace tovak::app {

namespace {

const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

QDBusMessage hostRegisteredQuery() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(TrayHost::watcherService), kWatcherPath,
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QString::fromLatin1(TrayHost::watcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
    return call;
}

bool hostRegistered(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().front().value<QDBusVariant>().variant().toBool();
}

}  // namespace

TrayHost::TrayHost(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        watcher_ = new QDBusServiceWatcher(QString::fromLatin1(watcherService), bus,
                                           QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& owner) {
                    if (owner.isEmpty()) {
                        setStatusNotifierHost(false);
                    } else {
                        askStatusNotifierHost();
                    }
                });
        // A watcher may be up before any host (a panel) registers with it.
        for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
            bus.connect(QString::fromLatin1(watcherService), kWatcherPath, QString::fromLatin1(watcherService),
                        QString::fromLatin1(signal), this, SLOT(askStatusNotifierHost()));
        }
        // The first answer is waited for, so that a hidden start knows whether to show the window.
        if (bus.interface()->isServiceRegistered(QString::fromLatin1(watcherService))) {
            statusNotifier_ = hostRegistered(bus.call(hostRegisteredQuery(), QDBus::Block, 2000));
        }
    }
    xembedTray_ = XEmbedTray::watch([this] { readXEmbedTray(); });
    xembed_ = xembedTray_ && xembedTray_->present();
    // Elsewhere (macOS, Windows) the system always has its tray.
    const QString platform = QGuiApplication::platformName();
    alwaysThere_ = platform == QLatin1String("cocoa") || platform == QLatin1String("windows");
}

TrayHost::~TrayHost() = default;

void TrayHost::askStatusNotifierHost() {
    auto* pending =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(hostRegisteredQuery(), 2000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        setStatusNotifierHost(hostRegistered(call->reply()));
    });
}

void TrayHost::setStatusNotifierHost(bool present) {
    if (present != statusNotifier_) {
        statusNotifier_ = present;
        Q_EMIT changed();
    }
}

void TrayHost::readXEmbedTray() {
    const bool present = xembedTray_->present();
    if (present != xembed_) {
        xembed_ = present;
        Q_EMIT changed();
    }
}

}  // namespace tovak::app

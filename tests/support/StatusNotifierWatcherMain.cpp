// A StatusNotifierItem watcher with its host registered, as a desktop's panel runs one, for the
// tray's tests: it owns org.kde.StatusNotifierWatcher on the session bus until it is ended, and
// lists the items that registered with it.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <QStringList>

namespace {

class Watcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

  public:
    [[nodiscard]] bool hostRegistered() const { return true; }
    [[nodiscard]] QStringList items() const { return items_; }
    [[nodiscard]] int protocolVersion() const { return 0; }

  public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) {
        items_ << service;
        Q_EMIT StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) { Q_EMIT StatusNotifierHostRegistered(); }

  Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

  private:
    QStringList items_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    Watcher watcher;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, QDBusConnection::ExportAllContents) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
        return 1;
    }
    return QCoreApplication::exec();
}

#include "StatusNotifierWatcherMain.moc"

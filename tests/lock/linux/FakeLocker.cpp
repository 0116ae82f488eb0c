// A screensaver or logind stand-in on a private bus. It owns the given name, answers Lock,
// GetActive, logind's GetSession/GetSessionByPID, the LockedHint and LidClosed properties (the lid
// closed with --lid-closed, moved by SetLidClosed), and appends the name of every method it is
// asked for to the log file. With --confirm a Lock takes effect; with --refuse it is an error;
// otherwise Lock answers "done" and nothing is locked, like nobody listening. Lock and Unlock
// announce the state: ActiveChanged, or LockedHint in PropertiesChanged on a login session.
// As xfconf, it answers GetProperty with the PROPERTY=VALUE words of its mode (true and false as
// switches, anything else as a number) and says the others are not set.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <algorithm>

namespace {

class FakeLocker final : public QDBusVirtualObject {
  public:
    FakeLocker(QString logPath, const QString& mode)
        : logPath_(std::move(logPath)),
          properties_(mode.split(' ', Qt::SkipEmptyParts)),
          confirm_(mode.contains(QStringLiteral("--confirm"))),
          refuse_(mode.contains(QStringLiteral("--refuse"))),
          lidClosed_(mode.contains(QStringLiteral("--lid-closed"))) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        log(member);
        if (member == QLatin1String("Lock") && refuse_) {
            connection.send(message.createErrorReply(QDBusError::AccessDenied, member));
        } else if (member == QLatin1String("Lock") || member == QLatin1String("Unlock")) {
            locked_ = confirm_ && member == QLatin1String("Lock");
            announce(message, connection);
            connection.send(message.createReply());
        } else if (member == QLatin1String("GetActive")) {
            connection.send(message.createReply(QVariant(locked_)));
        } else if (member == QLatin1String("GetSession") || member == QLatin1String("GetSessionByPID")) {
            log(message.arguments().value(0).toString());
            connection.send(message.createReply(
                QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/freedesktop/login1/session/_37")))));
        } else if (member == QLatin1String("GetProperty")) {
            const QString wanted = message.arguments().value(1).toString() + '=';
            const auto given = std::find_if(properties_.begin(), properties_.end(),
                                            [&](const QString& word) { return word.startsWith(wanted); });
            if (given == properties_.end()) {
                connection.send(message.createErrorReply(QStringLiteral("org.xfce.Xfconf.Error.PropertyNotFound"), {}));
            } else {
                const QString text = given->mid(wanted.size());
                const bool word = text == QLatin1String("true") || text == QLatin1String("false");
                const QVariant value = word ? QVariant(text == QLatin1String("true")) : QVariant(text.toInt());
                connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
            }
        } else if (member == QLatin1String("Get")) {
            const bool lid = message.arguments().value(1) == QLatin1String("LidClosed");
            connection.send(
                message.createReply(QVariant::fromValue(QDBusVariant(QVariant(lid ? lidClosed_ : locked_)))));
        } else if (member == QLatin1String("SetLidClosed")) {
            lidClosed_ = message.arguments().value(0).toBool();
            connection.send(QDBusMessage::createSignal(message.path(),
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("PropertiesChanged"))
                            << QStringLiteral("org.freedesktop.login1.Manager")
                            << QVariantMap{{QStringLiteral("LidClosed"), lidClosed_}} << QStringList{});
            connection.send(message.createReply());
        } else {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        }
        return true;
    }

  private:
    // What the real services tell their watchers, before the caller hears the reply.
    void announce(const QDBusMessage& call, const QDBusConnection& connection) const {
        if (call.interface() == QLatin1String("org.freedesktop.login1.Session")) {
            connection.send(QDBusMessage::createSignal(call.path(), QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("PropertiesChanged"))
                            << call.interface() << QVariantMap{{QStringLiteral("LockedHint"), locked_}}
                            << QStringList{});
        } else {
            connection.send(QDBusMessage::createSignal(call.path(), call.interface(), QStringLiteral("ActiveChanged"))
                            << locked_);
        }
    }

    void log(const QString& line) const {
        QFile file(logPath_);
        if (file.open(QIODevice::Append)) {
            file.write(line.toUtf8() + '\n');
        }
    }

    QString logPath_;
    QStringList properties_;
    bool confirm_, refuse_, lidClosed_, locked_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();  // address, name, log file, mode
    QDBusConnection bus = QDBusConnection::connectToBus(args.at(1), QStringLiteral("fake"));
    FakeLocker locker(args.at(3), args.value(4));
    if (!bus.isConnected() || !bus.registerVirtualObject(QStringLiteral("/"), &locker, QDBusConnection::SubPath) ||
        !bus.registerService(args.at(2))) {
        return 1;
    }
    return app.exec();
}

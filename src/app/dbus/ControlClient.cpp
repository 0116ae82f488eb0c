#include "app/dbus/ControlClient.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDateTime>
#include <QVariantMap>

#include "app/HeadlessRunner.h"
#include "app/dbus/ControlService.h"
#include "system/Json.h"

namespace tovak::app {

namespace {

// Long enough for a busy machine; a Tovak that says nothing for this long is not answering.
constexpr int kCallTimeoutMs = 10000;

QDBusMessage call(const QString& interface, const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QString::fromLatin1(ControlService::serviceName),
                                       QString::fromLatin1(ControlService::objectPath), interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, kCallTimeoutMs);
}

QDBusMessage callTovak(const QString& method, const QVariantList& arguments = {}) {
    return call(QString::fromLatin1(ControlService::serviceName), method, arguments);
}

bool nobodyThere(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ErrorMessage &&
           (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
            reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"));
}

// What the running Tovak does, as the first line of --status and the text of a status bar.
QString stateText(const QVariantMap& properties) {
    const QString state = properties.value(QStringLiteral("State")).toString();
    if (state == QStringLiteral("paused")) {
        const qint64 until = properties.value(QStringLiteral("PausedUntil")).toLongLong();
        return QStringLiteral("пауза до ") +
               QDateTime::fromSecsSinceEpoch(until).toLocalTime().toString(QStringLiteral("HH:mm"));
    }
    return state == QStringLiteral("watching") ? QStringLiteral("наблюдает") : QStringLiteral("остановлен");
}

// One object for status bars: the state, away mode, the end of a pause (calendar seconds, null
// while not paused) and the status line; text, alt, tooltip and class as waybar reads them.
std::string statusJson(const QVariantMap& properties) {
    const std::string state = properties.value(QStringLiteral("State")).toString().toStdString();
    const bool away = properties.value(QStringLiteral("Away")).toBool();
    const qint64 until = properties.value(QStringLiteral("PausedUntil")).toLongLong();
    const std::string status = properties.value(QStringLiteral("Status")).toString().toStdString();
    const std::string text = (stateText(properties) + (away ? QStringLiteral(" · отошёл") : QString())).toStdString();
    const auto quote = [](const std::string& value) { return system::Json::quote(value); };
    return "{\"state\": " + quote(state) + ", \"away\": " + (away ? "true" : "false") +
           ", \"pausedUntil\": " + (until > 0 ? std::to_string(until) : "null") + ", \"status\": " + quote(status) +
           ", \"text\": " + quote(text) + ", \"alt\": " + quote(away ? "away" : state) +
           ", \"tooltip\": " + quote("Товак — " + status) + ", \"class\": " + quote(state) + "}";
}

// Text from the bus for a terminal: whoever holds the name could send control characters.
std::string printable(QString text) {
    for (QChar& c : text) {
        c = c.category() == QChar::Other_Control ? QLatin1Char(' ') : c;
    }
    return text.toStdString();
}

QString methodFor(Control control) {
    switch (control) {
        case Control::pause:
            return QStringLiteral("Pause");
        case Control::resume:
            return QStringLiteral("Resume");
        case Control::away:
            return QStringLiteral("StepAway");
        case Control::back:
            return QStringLiteral("ComeBack");
        case Control::stop:
            return QStringLiteral("Stop");
        case Control::none:
        case Control::status:
            break;
    }
    return {};
}

}  // namespace

int runControlCommand(const Options& options, std::ostream& out, std::ostream& err) {
    if (!QDBusConnection::sessionBus().isConnected()) {
        err << "tovak: Товак не запущен: нет сеансовой шины D-Bus\n";
        return exitNotRunning;
    }
    const bool status = options.control == Control::status;
    const QDBusMessage reply =
        status ? call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"),
                      {QString::fromLatin1(ControlService::serviceName)})
        : options.control == Control::pause
            ? callTovak(methodFor(options.control), {QVariant::fromValue(static_cast<uint>(options.pauseSeconds))})
            : callTovak(methodFor(options.control));
    if (nobodyThere(reply)) {
        err << "tovak: Товак не запущен\n";
        return exitNotRunning;
    }
    if (reply.type() != QDBusMessage::ReplyMessage) {
        // Tovak's own refusals are in the user's words; anything else is the bus's.
        const bool tovakSaid = reply.errorName().startsWith(QStringLiteral("org.tovak.Tovak1.Error."));
        err << "tovak: " << (tovakSaid ? QString() : QStringLiteral("Товак не ответил: ")).toStdString()
            << printable(reply.errorMessage()) << "\n";
        return exitRefused;
    }
    if (!status) {
        return exitOk;
    }
    const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().value(0));
    if (options.json) {
        out << statusJson(properties) << "\n";
    } else {
        out << "Состояние: " << stateText(properties).toStdString() << "\n"
            << "Отошёл: " << (properties.value(QStringLiteral("Away")).toBool() ? "да" : "нет") << "\n"
            << "Строка состояния: " << printable(properties.value(QStringLiteral("Status")).toString()) << "\n";
    }
    return exitOk;
}

bool askRunningToStart() {
    return QDBusConnection::sessionBus().isConnected() &&
           callTovak(QStringLiteral("Start")).type() == QDBusMessage::ReplyMessage;
}

}  // namespace tovak::app

#include "trigger/gnome/GnomeWindowControl.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <chrono>
#include <thread>

namespace tovak::trigger {

namespace {

const QString kShell = QStringLiteral("org.gnome.Shell");
const QString kShellPath = QStringLiteral("/org/gnome/Shell");
const QString kExtensions = QStringLiteral("org.gnome.Shell.Extensions");
const QString kControlPath = QStringLiteral("/org/tovak/Tovak/WindowControl");
const QString kControl = QStringLiteral("org.tovak.Tovak.WindowControl");
constexpr int kCallTimeoutMs = 3000;
constexpr auto kStartWait = std::chrono::seconds(3);

// The Shell's extension states, as its D-Bus interface reports them.
constexpr int kStateError = 3;
constexpr int kStateOutOfDate = 4;

QDBusMessage call(const QDBusConnection& bus, const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(kShell, path, interface, method);
    message.setArguments(arguments);
    message.setAutoStartService(false);
    return bus.call(message, QDBus::Block, kCallTimeoutMs);
}

QDBusMessage callControl(const QDBusConnection& bus, const QString& method, const QVariantList& arguments = {}) {
    return call(bus, kControlPath, kControl, method, arguments);
}

// A count the extension answered, none on any error.
std::optional<int> countReply(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    return static_cast<int>(reply.arguments().front().toUInt());
}

WindowControl::Outcome outcomeOf(const QDBusMessage& reply) {
    const std::optional<int> count = countReply(reply);
    if (!count) {
        return WindowControl::Outcome::failed;
    }
    return *count > 0 ? WindowControl::Outcome::done : WindowControl::Outcome::noWindow;
}

enum class Probe { answers, refuses, absent, noShell };

Probe probe(const QDBusConnection& bus) {
    const QDBusMessage reply = callControl(bus, QStringLiteral("ActiveScreen"));
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return Probe::answers;
    }
    const QString error = reply.errorName();
    if (error == QLatin1String("org.freedesktop.DBus.Error.AccessDenied")) {
        return Probe::refuses;
    }
    if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return Probe::noShell;
    }
    return Probe::absent;
}

std::optional<QVariant> extensionsProperty(const QDBusConnection& bus, const QString& name) {
    const QDBusMessage reply = call(bus, kShellPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {kExtensions, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    return qvariant_cast<QDBusVariant>(reply.arguments().front()).variant();
}

// A string list in GVariant's text form, as gsettings prints it: "['a', \"b\"]" or "@as []".
QStringList parseStringList(const QString& text) {
    QStringList items;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar quote = text[i];
        if (quote != '\'' && quote != '"') {
            continue;
        }
        QString item;
        for (++i; i < text.size() && text[i] != quote; ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                ++i;
            }
            item += text[i];
        }
        items << item;
    }
    return items;
}

QString formatStringList(const QStringList& items) {
    QStringList quoted;
    for (QString item : items) {
        item.replace('\\', QStringLiteral("\\\\")).replace('\'', QStringLiteral("\\'"));
        quoted << '\'' + item + '\'';
    }
    return '[' + quoted.join(QStringLiteral(", ")) + ']';
}

std::optional<QString> gsettings(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("gsettings"), arguments);
    if (!process.waitForFinished(kCallTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(kCallTimeoutMs);
        return std::nullopt;
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Puts uuid on the Shell's list of extensions to enable (and off its list of those to keep off), in the
// user's settings, which a Shell reads at its start.
bool enableAtNextLogin(const QString& uuid) {
    const QString schema = QStringLiteral("org.gnome.shell");
    const std::optional<QString> enabled = gsettings({QStringLiteral("get"), schema, "enabled-extensions"});
    const std::optional<QString> disabled = gsettings({QStringLiteral("get"), schema, "disabled-extensions"});
    if (!enabled || !disabled) {
        return false;
    }
    QStringList enabledList = parseStringList(*enabled), disabledList = parseStringList(*disabled);
    if (disabledList.removeAll(uuid) > 0 &&
        !gsettings({QStringLiteral("set"), schema, "disabled-extensions", formatStringList(disabledList)})) {
        return false;
    }
    if (!enabledList.contains(uuid)) {
        enabledList << uuid;
        return gsettings({QStringLiteral("set"), schema, "enabled-extensions", formatStringList(enabledList)})
            .has_value();
    }
    return true;
}

// Enables the extension for this Shell, or for the next login when this Shell does not know it.
GnomeExtensionState enable(const QDBusConnection& bus) {
    const std::optional<QVariant> version = extensionsProperty(bus, QStringLiteral("ShellVersion"));
    if (!version) {
        return GnomeExtensionState::failed;
    }
    const QString uuid =
        QString::fromLatin1(version->toString().section('.', 0, 0).toInt() >= 45 ? GnomeWindowControl::kUuid45
                                                                                 : GnomeWindowControl::kUuid43);
    if (!extensionsProperty(bus, QStringLiteral("UserExtensionsEnabled")).value_or(true).toBool()) {
        return GnomeExtensionState::extensionsOff;
    }
    const QDBusMessage info = call(bus, kShellPath, kExtensions, QStringLiteral("GetExtensionInfo"), {uuid});
    if (info.type() != QDBusMessage::ReplyMessage || info.arguments().isEmpty()) {
        return GnomeExtensionState::failed;
    }
    const QVariantMap fields = qdbus_cast<QVariantMap>(info.arguments().front());
    if (fields.isEmpty()) {
        // This Shell looked for extensions before this one was installed.
        if (QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                   "gnome-shell/extensions/" + uuid + "/metadata.json")
                .isEmpty()) {
            return GnomeExtensionState::notInstalled;
        }
        return enableAtNextLogin(uuid) ? GnomeExtensionState::afterLogin : GnomeExtensionState::failed;
    }
    const int state = static_cast<int>(fields.value(QStringLiteral("state")).toDouble());
    if (state == kStateError || state == kStateOutOfDate) {
        return GnomeExtensionState::failed;
    }
    const QDBusMessage enabled = call(bus, kShellPath, kExtensions, QStringLiteral("EnableExtension"), {uuid});
    if (enabled.type() != QDBusMessage::ReplyMessage || !enabled.arguments().value(0).toBool()) {
        return GnomeExtensionState::failed;
    }
    // The Shell starts it when it sees its settings change, a moment after answering.
    const auto deadline = std::chrono::steady_clock::now() + kStartWait;
    for (;;) {
        switch (probe(bus)) {
            case Probe::answers:
                return GnomeExtensionState::ready;
            case Probe::refuses:
                return GnomeExtensionState::refused;
            case Probe::noShell:
                return GnomeExtensionState::notGnome;
            case Probe::absent:
                break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return GnomeExtensionState::failed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace

GnomeWindowControl::GnomeWindowControl(QDBusConnection bus) : bus_(std::move(bus)) {}

std::shared_ptr<GnomeWindowControl> GnomeWindowControl::connect(GnomeExtensionState* state) {
    return connect(QDBusConnection::sessionBus(), state);
}

std::shared_ptr<GnomeWindowControl> GnomeWindowControl::connect(const QDBusConnection& bus,
                                                                GnomeExtensionState* state) {
    GnomeExtensionState result = GnomeExtensionState::notGnome;
    if (bus.isConnected()) {
        switch (probe(bus)) {
            case Probe::answers:
                result = GnomeExtensionState::ready;
                break;
            case Probe::refuses:
                result = GnomeExtensionState::refused;
                break;
            case Probe::noShell:
                result = GnomeExtensionState::notGnome;
                break;
            case Probe::absent:
                result = enable(bus);
                break;
        }
    }
    if (state != nullptr) {
        *state = result;
    }
    return result == GnomeExtensionState::ready ? std::make_shared<GnomeWindowControl>(bus) : nullptr;
}

std::string GnomeWindowControl::statusLine(GnomeExtensionState state) {
    switch (state) {
        case GnomeExtensionState::ready:
        case GnomeExtensionState::notGnome:
            return {};
        case GnomeExtensionState::afterLogin:
            return "Управление окнами GNOME заработает после повторного входа";
        case GnomeExtensionState::refused:
            return "Управление окнами GNOME доступно только установленному Товаку";
        case GnomeExtensionState::extensionsOff:
            return "Управление окнами GNOME: расширения выключены";
        case GnomeExtensionState::notInstalled:
            return "Управление окнами GNOME: расширение Товака не установлено";
        case GnomeExtensionState::failed:
            return "Управление окнами GNOME: расширение Товака не запустилось";
    }
    return {};
}

std::optional<int> GnomeWindowControl::countWindowsTitled(const std::string& fileName) {
    if (fileName.empty()) {
        return 0;
    }
    return countReply(callControl(bus_, QStringLiteral("CountWindows"), {QString::fromStdString(fileName)}));
}

WindowControl::Outcome GnomeWindowControl::raiseWindowsTitled(const std::string& fileName) {
    if (fileName.empty()) {
        return Outcome::noWindow;
    }
    return outcomeOf(callControl(bus_, QStringLiteral("RaiseWindows"), {QString::fromStdString(fileName)}));
}

WindowControl::Outcome GnomeWindowControl::closeWindowsTitled(const std::string& fileName) {
    if (fileName.empty()) {
        return Outcome::noWindow;
    }
    return outcomeOf(callControl(bus_, QStringLiteral("CloseWindows"), {QString::fromStdString(fileName)}));
}

WindowControl::Outcome GnomeWindowControl::placePanel(const std::string& panelTitle, const DesktopRect& where) {
    return outcomeOf(callControl(bus_, QStringLiteral("PlacePanel"),
                                 {QString::fromStdString(panelTitle), where.x, where.y, where.width, where.height}));
}

std::optional<DesktopRect> GnomeWindowControl::activeScreen() {
    const QDBusMessage reply = callControl(bus_, QStringLiteral("ActiveScreen"));
    const QVariantList values = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || values.size() != 5 || !values[0].toBool()) {
        return std::nullopt;
    }
    return DesktopRect{values[1].toInt(), values[2].toInt(), values[3].toInt(), values[4].toInt()};
}

}  // namespace tovak::trigger

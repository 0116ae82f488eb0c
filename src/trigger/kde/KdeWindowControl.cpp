#include "trigger/kde/KdeWindowControl.h"

#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>

namespace tovak::trigger {

namespace {

const QString kKWin = QStringLiteral("org.kde.KWin");
const QString kScripting = QStringLiteral("/Scripting");
const QString kScriptingInterface = QStringLiteral("org.kde.kwin.Scripting");
const QString kReportInterface = QStringLiteral("org.tovak.Tovak.KWinScript");
constexpr int kCallTimeoutMs = 3000;
constexpr auto kReportWait = std::chrono::seconds(3);

// One script for every operation, written for KWin 5.27 (clientList, activeClient, screens by number)
// and 6 (windowList, activeWindow, outputs), telling them apart by what the workspace offers. The
// request's values arrive as JavaScript literals: %1 operation, %2 text, %3 place; %4 service, %5 path
// and %6 token to report to.
constexpr const char* kScript = R"(
(function () {
    var operation = %1, text = %2, where = %3;
    var result = {count: 0};
    try {
        var windows = workspace.windowList ? workspace.windowList() : workspace.clientList();
        var modern = "activeWindow" in workspace;
        var matching = [];
        for (var i = 0; i < windows.length; i++) {
            var caption = String(windows[i].caption);
            if (operation === "place" ? caption === text : text !== "" && caption.indexOf(text) >= 0)
                matching.push(windows[i]);
        }
        if (operation === "raise") {
            // KWin restores a minimised window it is asked to activate.
            matching.forEach(function (w) {
                if (modern)
                    workspace.activeWindow = w;
                else
                    workspace.activeClient = w;
            });
        } else if (operation === "close") {
            matching = matching.filter(function (w) { return w.closeable; });
            matching.forEach(function (w) { w.closeWindow(); });
        } else if (operation === "place") {
            matching.forEach(function (w) {
                w.keepAbove = true;
                w.onAllDesktops = true;
                var size = where.width > 0 && where.height > 0 ? where : w.frameGeometry;
                w.frameGeometry = {x: where.x, y: where.y, width: size.width, height: size.height};
            });
        } else if (operation === "screen") {
            var active = modern ? workspace.activeWindow : workspace.activeClient;
            var area = active ? workspace.clientArea(KWin.ScreenArea, active)
                              : workspace.clientArea(KWin.ScreenArea, workspace.activeScreen, workspace.currentDesktop);
            result.screen = {x: area.x, y: area.y, width: area.width, height: area.height};
        }
        result.count = matching.length;
    } catch (e) {
        result.error = String(e);
    }
    callDBus(%4, %5, "org.tovak.Tovak.KWinScript", "Report", %6, JSON.stringify(result));
})();
)";

// A JavaScript string literal of text, everything but plain printable ASCII escaped, so no text can end
// the literal early or be read differently.
QString jsString(const QString& text) {
    QString literal = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != '"' && c != '\\') {
            literal += c;
        } else {
            literal += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    return literal + '"';
}

QDBusMessage callKWin(const QDBusConnection& bus, const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(kKWin, path, interface, method);
    message.setArguments(arguments);
    message.setAutoStartService(false);
    return bus.call(message, QDBus::Block, kCallTimeoutMs);
}

WindowControl::Outcome outcomeOf(int count) {
    return count > 0 ? WindowControl::Outcome::done : WindowControl::Outcome::noWindow;
}

}  // namespace

struct KdeWindowControl::Report {
    int count = 0;
    std::optional<DesktopRect> screen;
};

// Takes the scripts' reports on a thread of its own, so they arrive while the caller waits.
class KdeWindowControl::Receiver {
  public:
    Receiver() : handler_(*this) {
        thread_.start();
        handler_.moveToThread(&thread_);
    }
    ~Receiver() {
        thread_.quit();
        thread_.wait();
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    QDBusVirtualObject* object() { return &handler_; }

    // Waits for the next report from sender carrying token, dropping any other.
    void expect(const QString& sender, const QString& token) {
        std::lock_guard lock(mutex_);
        sender_ = sender;
        token_ = token;
        report_.reset();
    }
    std::optional<QString> wait() {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, kReportWait, [&] { return report_.has_value(); });
        std::optional<QString> report = std::move(report_);
        token_.clear();
        return report;
    }

  private:
    class Handler : public QDBusVirtualObject {
      public:
        explicit Handler(Receiver& receiver) : receiver_(receiver) {}
        QString introspect(const QString&) const override {
            return QStringLiteral(R"(<interface name="org.tovak.Tovak.KWinScript"><method name="Report">)"
                                  R"(<arg name="token" type="s" direction="in"/>)"
                                  R"(<arg name="result" type="s" direction="in"/></method></interface>)");
        }
        bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
            if (message.interface() != kReportInterface || message.member() != QLatin1String("Report") ||
                message.arguments().size() != 2) {
                return false;
            }
            receiver_.deliver(message.service(), message.arguments()[0].toString(), message.arguments()[1].toString());
            connection.send(message.createReply());
            return true;
        }

      private:
        Receiver& receiver_;
    };

    void deliver(const QString& sender, const QString& token, const QString& report) {
        std::lock_guard lock(mutex_);
        if (!token_.isEmpty() && token == token_ && sender == sender_) {
            report_ = report;
            arrived_.notify_all();
        }
    }

    Handler handler_;
    QThread thread_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    QString sender_, token_;
    std::optional<QString> report_;
};

std::shared_ptr<KdeWindowControl> KdeWindowControl::connect() {
    return connect(QDBusConnection::sessionBus());
}

std::shared_ptr<KdeWindowControl> KdeWindowControl::connect(const QDBusConnection& bus) {
    if (!bus.isConnected() ||
        callKWin(bus, kScripting, kScriptingInterface, QStringLiteral("isScriptLoaded"), {QStringLiteral("tovak")})
                .type() != QDBusMessage::ReplyMessage) {
        return nullptr;
    }
    auto control = std::make_shared<KdeWindowControl>(bus);
    return control->path_.isEmpty() || control->folder_.isEmpty() ? nullptr : control;
}

KdeWindowControl::KdeWindowControl(QDBusConnection bus)
    : bus_(std::move(bus)), receiver_(std::make_unique<Receiver>()) {
    static std::atomic<int> instances = 0;
    const QString path = QStringLiteral("/org/tovak/Tovak/KWinScript/%1").arg(++instances);
    if (bus_.registerVirtualObject(path, receiver_->object())) {
        path_ = path;
    }
    // The scripts go where only this user can write: KWin reads them from there.
    static QTemporaryDir folder(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
                                QStringLiteral("/tovak-kwin-XXXXXX"));
    folder_ = folder.isValid() ? folder.path() : QString();
}

KdeWindowControl::~KdeWindowControl() {
    if (!path_.isEmpty()) {
        bus_.unregisterObject(path_);
    }
}

std::optional<KdeWindowControl::Report> KdeWindowControl::run(const char* operation, const QString& text,
                                                              const DesktopRect& where) {
    std::lock_guard lock(calls_);
    const QString owner = bus_.interface()->serviceOwner(kKWin);
    if (owner.isEmpty()) {
        return std::nullopt;
    }
    const QString token = QString::number(QRandomGenerator::system()->generate64(), 16) +
                          QString::number(QRandomGenerator::system()->generate64(), 16);
    const QString place = QStringLiteral(R"({"x": %1, "y": %2, "width": %3, "height": %4})")
                              .arg(where.x)
                              .arg(where.y)
                              .arg(where.width)
                              .arg(where.height);
    const QString script =
        QString::fromLatin1(kScript).arg(jsString(QString::fromLatin1(operation)), jsString(text), place,
                                         jsString(bus_.baseService()), jsString(path_), jsString(token));
    static std::atomic<int> serial = 0;
    const QString plugin = QStringLiteral("tovak-%1-%2").arg(::getpid()).arg(++serial);
    const QString file = folder_ + '/' + plugin + QStringLiteral(".js");
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(script.toUtf8()) < 0) {
        return std::nullopt;
    }
    out.close();

    receiver_->expect(owner, token);
    std::optional<QString> report;
    const QDBusMessage loaded =
        callKWin(bus_, kScripting, kScriptingInterface, QStringLiteral("loadScript"), {file, plugin});
    const int id = loaded.arguments().value(0, -1).toInt();
    if (loaded.type() == QDBusMessage::ReplyMessage && id >= 0) {
        const QStringList formats = scriptPathFormat_.isEmpty()
                                        ? QStringList{QStringLiteral("/Scripting/Script%1"), QStringLiteral("/%1")}
                                        : QStringList{scriptPathFormat_};
        for (const QString& format : formats) {
            if (callKWin(bus_, format.arg(id), QStringLiteral("org.kde.kwin.Script"), QStringLiteral("run")).type() ==
                QDBusMessage::ReplyMessage) {
                scriptPathFormat_ = format;
                report = receiver_->wait();
                break;
            }
        }
    }
    callKWin(bus_, kScripting, kScriptingInterface, QStringLiteral("unloadScript"), {plugin});
    QFile::remove(file);

    if (!report) {
        return std::nullopt;
    }
    const QJsonObject values = QJsonDocument::fromJson(report->toUtf8()).object();
    if (values.isEmpty() || values.contains(QStringLiteral("error"))) {
        return std::nullopt;
    }
    Report result;
    result.count = values.value(QStringLiteral("count")).toInt();
    if (values.contains(QStringLiteral("screen"))) {
        const QJsonObject screen = values.value(QStringLiteral("screen")).toObject();
        result.screen =
            DesktopRect{screen.value(QStringLiteral("x")).toInt(), screen.value(QStringLiteral("y")).toInt(),
                        screen.value(QStringLiteral("width")).toInt(), screen.value(QStringLiteral("height")).toInt()};
    }
    return result;
}

std::optional<int> KdeWindowControl::countWindowsTitled(const std::string& fileName) {
    if (fileName.empty()) {
        return 0;
    }
    const std::optional<Report> report = run("count", QString::fromStdString(fileName));
    return report ? std::optional<int>(report->count) : std::nullopt;
}

WindowControl::Outcome KdeWindowControl::raiseWindowsTitled(const std::string& fileName) {
    if (fileName.empty()) {
        return Outcome::noWindow;
    }
    const std::optional<Report> report = run("raise", QString::fromStdString(fileName));
    return report ? outcomeOf(report->count) : Outcome::failed;
}

WindowControl::Outcome KdeWindowControl::closeWindowsTitled(const std::string& fileName) {
    if (fileName.empty()) {
        return Outcome::noWindow;
    }
    const std::optional<Report> report = run("close", QString::fromStdString(fileName));
    return report ? outcomeOf(report->count) : Outcome::failed;
}

WindowControl::Outcome KdeWindowControl::placePanel(const std::string& panelTitle, const DesktopRect& where) {
    const std::optional<Report> report = run("place", QString::fromStdString(panelTitle), where);
    return report ? outcomeOf(report->count) : Outcome::failed;
}

std::optional<DesktopRect> KdeWindowControl::activeScreen() {
    const std::optional<Report> report = run("screen", QString());
    return report ? report->screen : std::nullopt;
}

}  // namespace tovak::trigger

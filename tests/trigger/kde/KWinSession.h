#pragma once

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "trigger/gnome/WaitUntil.h"

namespace tovak::testing {

// A headless KWin (Wayland, with XWayland) on a session bus of its own, with its settings in a
// temporary home; everything stops with the object. The test reads KWin's own window list through
// judge scripts of its own, which print what they find to KWin's log.
class KWinSession {
  public:
    KWinSession() {
        static int argc = 1, sessions = 0;
        static char name[] = "tovak-test";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) {
            new QCoreApplication(argc, argv);  // lives until the process ends, as Qt expects
        }
        connectionName_ = QStringLiteral("kwin-session-%1").arg(++sessions);
        for (const char* folder : {"run", "config", "home", "bin"}) {
            std::filesystem::create_directories(folder_ / folder);
        }
        std::filesystem::permissions(folder_ / "run", std::filesystem::perms::owner_all);
        address_ =
            spawnAndReadLine({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, daemon_);
        bus_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromStdString(address_), connectionName_));
    }
    ~KWinSession() {
        for (pid_t windows : windows_) {
            stopChild(windows);
        }
        stopChild(kwin_);
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
        stopChild(daemon_);
    }
    KWinSession(const KWinSession&) = delete;
    KWinSession& operator=(const KWinSession&) = delete;

    // Starts KWin with this many virtual outputs of 1024x768, side by side. Returns why it could not (for
    // GTEST_SKIP) when KWin is not installed; otherwise waits until it answers.
    std::string start(int outputs) {
        if (::access("/usr/bin/kwin_wayland", X_OK) != 0) {
            return "kwin_wayland is not installed (apt install kwin-wayland)";
        }
        // The installed binary carries a file capability that a container may refuse to run; a plain
        // copy still named kwin_wayland runs the same.
        const std::string kwin = folder_ / "bin/kwin_wayland";
        std::filesystem::copy_file("/usr/bin/kwin_wayland", kwin);
        // KWin starts the program it is given once XWayland is up, with the X display to use.
        const std::string report =
            folder_.script("report-display", "echo \"$DISPLAY $XAUTHORITY\" > " + (folder_ / "display"));
        kwin_ = spawnChild({"env",
                            "-u",
                            "WAYLAND_DISPLAY",
                            "DBUS_SESSION_BUS_ADDRESS=" + address_,
                            "XDG_RUNTIME_DIR=" + (folder_ / "run"),
                            "XDG_CONFIG_HOME=" + (folder_ / "config"),
                            "HOME=" + (folder_ / "home"),
                            "sh",
                            "-c",
                            "exec \"$@\" 2>" + (folder_ / "kwin.log"),
                            "sh",
                            kwin,
                            "--virtual",
                            "--no-lockscreen",
                            "--xwayland",
                            "--socket",
                            kWaylandDisplay,
                            "--output-count",
                            std::to_string(outputs),
                            report},
                           {.stdoutFd = -1, .display = "", .quietStderr = true});
        waitUntil([&] { return folder_.read("display").find('\n') != std::string::npos; });
        std::istringstream(folder_.read("display")) >> x11Display_ >> xauthority_;
        return "";
    }

    // Runs a judge script (JavaScript with the workspace in scope, its last value printed) in KWin and
    // returns what it printed; empty when it did not run.
    std::string judge(const std::string& code) {
        const std::string marker = "TOVAKJUDGE" + std::to_string(++judged_) + " ";
        const std::string file =
            folder_.write("judge.js", "print(" + jsString(marker) + " + (function () {" + kHelpers + code + "})());");
        const QString plugin = QStringLiteral("tovak-judge-%1").arg(judged_);
        QDBusMessage load =
            QDBusMessage::createMethodCall("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "loadScript");
        load << QString::fromStdString(file) << plugin;
        const QDBusMessage loaded = bus_->call(load, QDBus::Block, 5000);
        if (loaded.type() == QDBusMessage::ReplyMessage) {
            bus_->call(QDBusMessage::createMethodCall("org.kde.KWin", "/" + loaded.arguments().value(0).toString(),
                                                      "org.kde.kwin.Script", "run"),
                       QDBus::Block, 5000);
        }
        std::string line;
        waitUntil([&] {
            const std::string log = folder_.read("kwin.log");
            const size_t at = log.find(marker);
            const size_t end = at == std::string::npos ? at : log.find('\n', at);
            line = end == std::string::npos ? std::string() : log.substr(at + marker.size(), end - at - marker.size());
            return end != std::string::npos;
        });
        QDBusMessage unload =
            QDBusMessage::createMethodCall("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript");
        unload << plugin;
        bus_->call(unload, QDBus::Block, 5000);
        return line;
    }
    // What KWin knows of the window with this exact title: "active=.. minimized=.. above=.. alldesktops=..
    // at=X,Y", or "none".
    std::string window(const std::string& title) {
        return judge("var w = find(" + jsString(title) +
                     "); if (!w) return 'none'; var g = w.frameGeometry;"
                     "return 'active=' + (w === active()) + ' minimized=' + w.minimized + ' above=' + w.keepAbove +"
                     "' alldesktops=' + w.onAllDesktops + ' at=' + g.x + ',' + g.y;");
    }
    // Acts on that window as a user would: "activate", "minimize", or "output N" (sent to that output).
    void act(const std::string& title, const std::string& action) {
        judge("var w = find(" + jsString(title) + "), action = " + jsString(action) +
              "; if (action === 'activate') workspace.activeClient = w;"
              "else if (action === 'minimize') w.minimized = true;"
              "else workspace.sendClientToScreen(w, Number(action.slice(7))); return '';");
    }

    // Opens windows with these titles in a program of their own, native Wayland or through XWayland,
    // and waits until KWin lists them all.
    bool openWindows(bool x11, const std::vector<std::string>& titles, bool frameless = false) {
        std::vector<std::string> command = {"env",
                                            "-u",
                                            "WAYLAND_DISPLAY",
                                            "DBUS_SESSION_BUS_ADDRESS=" + address_,
                                            "XDG_RUNTIME_DIR=" + (folder_ / "run"),
                                            std::string("QT_QPA_PLATFORM=") + (x11 ? "xcb" : "wayland"),
                                            x11 ? "XAUTHORITY=" + xauthority_ : "WAYLAND_DISPLAY=" + kWaylandDisplay};
        command.emplace_back(TOVAK_TEST_WINDOW);
        if (frameless) {
            command.emplace_back("--frameless");
        }
        command.insert(command.end(), titles.begin(), titles.end());
        windows_.push_back(
            spawnChild(command, {.stdoutFd = -1, .display = x11 ? x11Display_ : "", .quietStderr = true}));
        return waitUntil([&] {
            for (const std::string& title : titles) {
                if (window(title) == "none") {
                    return false;
                }
            }
            return true;
        });
    }

    [[nodiscard]] QDBusConnection& bus() const { return *bus_; }
    [[nodiscard]] const std::string& address() const { return address_; }

    // A JavaScript string literal of text.
    static std::string jsString(const std::string& text) {
        std::string literal = "'";
        for (const char c : text) {
            literal += c == '\\' || c == '\'' ? std::string("\\") + c : std::string(1, c);
        }
        return literal + "'";
    }

  private:
    static constexpr const char* kHelpers =
        "var all = workspace.windowList ? workspace.windowList() : workspace.clientList();"
        "function active() { return 'activeWindow' in workspace ? workspace.activeWindow : workspace.activeClient; }"
        "function find(title) { for (var i = 0; i < all.length; i++) if (all[i].caption === title) return all[i];"
        " return null; }";
    inline static const std::string kWaylandDisplay = "wayland-tovak";

    TempDir folder_{"tovak-kwin"};
    pid_t daemon_ = -1, kwin_ = -1;
    std::vector<pid_t> windows_;
    std::string address_, x11Display_, xauthority_;
    int judged_ = 0;
    QString connectionName_;
    std::unique_ptr<QDBusConnection> bus_;
};

}  // namespace tovak::testing

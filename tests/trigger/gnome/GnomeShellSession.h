#pragma once

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "trigger/gnome/WaitUntil.h"

namespace tovak::testing {

// A headless GNOME Shell (Wayland, with XWayland) on a system bus and a session bus of its own, with
// its data and settings in a temporary home; everything stops with the object. A judge extension puts
// the Shell in unsafe mode, so the test reads the Shell's own window list through its Eval method and
// can focus, minimize and move windows the way a user would.
class GnomeShellSession {
  public:
    static constexpr const char* kUuid = "tovak-window-control-43@tovak.org";

    GnomeShellSession() {
        static int argc = 1, sessions = 0;
        static char name[] = "tovak-test";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) {
            new QCoreApplication(argc, argv);  // lives until the process ends, as Qt expects
        }
        connectionName_ = QStringLiteral("gnome-shell-session-%1").arg(++sessions);
        for (const char* folder : {"run", "data", "config", "home", "empty"}) {
            std::filesystem::create_directories(folder_ / folder);
        }
        std::filesystem::permissions(folder_ / "run", std::filesystem::perms::owner_all);
        // Tovak finds the extension's files and the user's settings where the Shell does.
        ::setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
        ::setenv("GSETTINGS_BACKEND", "keyfile", 1);
        systemAddress_ =
            spawnAndReadLine({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, system_);
        address_ =
            spawnAndReadLine({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, session_);
        bus_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromStdString(address_), connectionName_));
        folder_.write("data/gnome-shell/extensions/tovak-test-judge@tovak.org/metadata.json",
                      R"({"uuid": "tovak-test-judge@tovak.org", "name": "judge", "description": "judge",
                          "shell-version": ["43", "44"]})");
        folder_.write("data/gnome-shell/extensions/tovak-test-judge@tovak.org/extension.js", kJudge);
    }
    ~GnomeShellSession() {
        stopShell();
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
        stopChild(session_);
        stopChild(system_);
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "GSETTINGS_BACKEND"}) {
            ::unsetenv(name);
        }
    }
    GnomeShellSession(const GnomeShellSession&) = delete;
    GnomeShellSession& operator=(const GnomeShellSession&) = delete;

    // Copies the extension from the build tree into the user's data folder, allowing this test's own
    // executable to call it.
    void installExtension() const {
        const std::filesystem::path target = folder_.path() / "data/gnome-shell/extensions" / kUuid;
        std::filesystem::copy(std::filesystem::path(TOVAK_GNOME_EXTENSIONS) / kUuid, target,
                              std::filesystem::copy_options::recursive);
        folder_.write(std::string("data/gnome-shell/extensions/") + kUuid + "/allowed-callers",
                      std::filesystem::read_symlink("/proc/self/exe").string() + "\n");
    }
    // The settings the Shell starts with: the extensions it enables.
    void enableAtStart(bool tovak) const {
        folder_.write("config/glib-2.0/settings/keyfile",
                      std::string("[org/gnome/shell]\nenabled-extensions=['tovak-test-judge@tovak.org'") +
                          (tovak ? std::string(", '") + kUuid + "'" : std::string()) + "]\n");
    }
    [[nodiscard]] std::string settings() const { return folder_.read("config/glib-2.0/settings/keyfile"); }

    // Starts the Shell with a virtual monitor of each size (side by side, left to right). Returns why it
    // could not (for GTEST_SKIP) when the Shell is not installed; otherwise waits until it answers.
    std::string startShell(const std::vector<std::string>& monitors) {
        if (::access("/usr/bin/gnome-shell", X_OK) != 0) {
            return "gnome-shell is not installed (apt install gnome-shell)";
        }
        // Without logind, a Shell that finds /run/systemd/seats waits for a seat that never comes.
        std::string command = "exec gnome-shell --headless --wayland --wayland-display " + kWaylandDisplay;
        for (const std::string& size : monitors) {
            command += " --virtual-monitor " + size;
        }
        if (std::filesystem::exists("/run/systemd/seats")) {
            command = "mount --bind " + (folder_ / "empty") + " /run/systemd/seats && " + command;
        }
        shell_ = spawnChild(
            {"env", "-u", "WAYLAND_DISPLAY", "DBUS_SYSTEM_BUS_ADDRESS=" + systemAddress_,
             "DBUS_SESSION_BUS_ADDRESS=" + address_, "XDG_RUNTIME_DIR=" + (folder_ / "run"),
             "XDG_DATA_HOME=" + (folder_ / "data"), "XDG_CONFIG_HOME=" + (folder_ / "config"),
             "HOME=" + (folder_ / "home"), "GSETTINGS_BACKEND=keyfile", "unshare", "-m", "sh", "-c", command},
            {.stdoutFd = -1, .display = "", .quietStderr = true});
        if (!waitUntil([&] { return eval("global.context.unsafe_mode") == "true"; })) {
            return "";  // the caller's next check fails with the Shell not answering
        }
        x11Display_ = eval("GLib.getenv('DISPLAY')");
        xauthority_ = eval("GLib.getenv('XAUTHORITY')");
        return "";
    }
    void stopShell() {
        for (pid_t windows : windows_) {
            stopChild(windows);
        }
        windows_.clear();
        stopChild(shell_);
        shell_ = -1;
    }

    // Runs JavaScript in the Shell; its result as JSON, a string's quotes taken off; empty on failure.
    std::string eval(const std::string& code) const {
        QDBusMessage message =
            QDBusMessage::createMethodCall("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "Eval");
        message << QString::fromStdString(code);
        const QDBusMessage reply = bus_->call(message, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || !reply.arguments().value(0).toBool()) {
            return {};
        }
        std::string json = reply.arguments().value(1).toString().toStdString();
        return json.size() >= 2 && json.front() == '"' ? json.substr(1, json.size() - 2) : json;
    }
    // What the Shell knows of the window with this exact title: "focused=.. minimized=.. above=..
    // sticky=.. at=X,Y monitor=N shown=..", or "none".
    [[nodiscard]] std::string window(const std::string& title) const {
        return eval("tovakJudge.describe(" + jsString(title) + ")");
    }
    // Acts on that window as a user would: "activate", "minimize", or "monitor N".
    void act(const std::string& title, const std::string& action) const {
        eval("tovakJudge.act(" + jsString(title) + ", " + jsString(action) + ")");
    }

    // Opens windows with these titles in a program of their own, native Wayland or through XWayland,
    // and waits until the Shell shows them all (and has placed them: moved before, they would be
    // placed again).
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
                if (window(title).find("shown=true") == std::string::npos) {
                    return false;
                }
            }
            return true;
        });
    }

    [[nodiscard]] QDBusConnection& bus() const { return *bus_; }
    [[nodiscard]] const std::string& address() const { return address_; }
    [[nodiscard]] const TempDir& folder() const { return folder_; }

    // A JavaScript string literal of text (titles here are plain, without quotes or backslashes).
    static std::string jsString(const std::string& text) { return "'" + text + "'"; }

  private:
    static constexpr const char* kJudge = R"(
function init() {
    return {
        enable() {
            global.context.unsafe_mode = true;
            const find = title => global.display.list_all_windows().find(w => w.get_title() === title);
            globalThis.tovakJudge = {
                describe(title) {
                    const w = find(title);
                    if (!w)
                        return 'none';
                    const r = w.get_frame_rect();
                    return `focused=${w.has_focus()} minimized=${w.minimized} above=${w.is_above()} ` +
                        `sticky=${w.is_on_all_workspaces()} at=${r.x},${r.y} monitor=${w.get_monitor()} ` +
                        `shown=${Boolean(w.get_compositor_private()?.visible)}`;
                },
                act(title, action) {
                    const w = find(title);
                    if (action === 'activate')
                        w.activate(global.get_current_time());
                    else if (action === 'minimize')
                        w.minimize();
                    else if (action.startsWith('monitor '))
                        w.move_to_monitor(Number(action.slice(8)));
                },
            };
        },
        disable() {},
    };
}
)";
    inline static const std::string kWaylandDisplay = "wayland-tovak";

    TempDir folder_{"tovak-gnome"};
    pid_t system_ = -1, session_ = -1, shell_ = -1;
    std::vector<pid_t> windows_;
    std::string systemAddress_, address_, x11Display_, xauthority_;
    QString connectionName_;
    std::unique_ptr<QDBusConnection> bus_;
};

}  // namespace tovak::testing

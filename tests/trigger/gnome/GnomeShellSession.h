#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QDBusMessage>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "trigger/gnome/CompositorSession.h"
#include "trigger/gnome/GnomeWindowControl.h"

namespace tovak::trigger {
inline void PrintTo(GnomeExtensionState state, std::ostream* out) {
    *out << std::array{"ready", "notGnome", "afterLogin", "refused", "extensionsOff", "notInstalled", "failed"}
            [static_cast<int>(state)];
}
}  // namespace tovak::trigger

namespace tovak::testing {

// A headless GNOME Shell (Wayland, with XWayland), with a system bus of its own beside the session's.
// A judge extension puts the Shell in unsafe mode, so the test reads the Shell's own window list through
// its Eval method and can focus, minimize and move windows the way a user would.
class GnomeShellSession : public CompositorSession {
  public:
    static constexpr const char* kUuid = "tovak-window-control-43@tovak.org";

    GnomeShellSession() {
        std::filesystem::create_directories(folder_ / "empty");
        // Tovak finds the extension's files and the user's settings where the Shell does.
        ::setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
        ::setenv("GSETTINGS_BACKEND", "keyfile", 1);
        systemAddress_ = startBus(system_);
        folder_.write("data/gnome-shell/extensions/tovak-test-judge@tovak.org/metadata.json",
                      R"({"uuid": "tovak-test-judge@tovak.org", "name": "judge", "description": "judge",
                          "shell-version": ["43", "44"]})");
        folder_.write("data/gnome-shell/extensions/tovak-test-judge@tovak.org/extension.js", kJudge);
    }
    ~GnomeShellSession() override {
        stopCompositor();
        stopChild(system_);
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "GSETTINGS_BACKEND"}) {
            ::unsetenv(name);
        }
    }

    // Copies the extension from the build tree into the user's data folder, allowing this test's own
    // executable to call it.
    void installExtension() const {
        std::filesystem::copy(std::filesystem::path(TOVAK_GNOME_EXTENSIONS) / kUuid,
                              folder_.path() / "data/gnome-shell/extensions" / kUuid,
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

    // Starts the Shell with a virtual monitor of each size (side by side, left to right) and waits until it
    // answers. Returns why it cannot run here (for GTEST_SKIP); one that does not answer is also a failure.
    std::string startShell(const std::vector<std::string>& monitors) {
        if (std::string why = cannotRunHere(); !why.empty()) {
            return why;
        }
        std::string command = "exec gnome-shell --headless --wayland --wayland-display " + kWaylandDisplay;
        for (const std::string& size : monitors) {
            command += " --virtual-monitor " + size;
        }
        // Without logind, a Shell that finds /run/systemd/seats waits for a seat that never comes.
        if (std::filesystem::exists("/run/systemd/seats")) {
            command = "mount --bind " + (folder_ / "empty") + " /run/systemd/seats && " + command;
        }
        command = "exec 2>'" + (folder_ / "shell.log") + "'; " + command;
        // Now and then the Shell hangs at start, in a process it forks and that never runs its
        // program: such a start is ended (with the fork) and tried once more.
        for (int attempt = 1;; ++attempt) {
            compositor_ = spawnChild({"env", "-u", "WAYLAND_DISPLAY", "DBUS_SYSTEM_BUS_ADDRESS=" + systemAddress_,
                                      "DBUS_SESSION_BUS_ADDRESS=" + address_, "XDG_RUNTIME_DIR=" + (folder_ / "run"),
                                      "HOME=" + (folder_ / "home"), "unshare", "-m", "sh", "-c", command},
                                     {.stdoutFd = -1, .display = "", .ownGroup = true});
            if (waitUntil([&] { return eval("global.context.unsafe_mode") == "true"; })) {
                break;
            }
            if (attempt == 2) {
                ADD_FAILURE() << "GNOME Shell did not answer in 30 s, twice; its stderr:\n"
                              << folder_.read("shell.log");
                return "GNOME Shell did not start (see the failure above)";
            }
            std::fprintf(stderr, "GNOME Shell did not answer in 30 s; started again. Its stderr:\n%s\n",
                         folder_.read("shell.log").c_str());
            stopCompositor();
        }
        x11Display_ = eval("GLib.getenv('DISPLAY')");
        xauthority_ = eval("GLib.getenv('XAUTHORITY')");
        return "";
    }
    void stopShell() { stopCompositor(); }

    // Runs JavaScript in the Shell; its result as JSON, a string's quotes taken off; empty on failure.
    std::string eval(const std::string& code) const {
        QDBusMessage message =
            QDBusMessage::createMethodCall("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "Eval");
        message << QString::fromStdString(code);
        const QDBusMessage reply = bus().call(message, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || !reply.arguments().value(0).toBool()) {
            return {};
        }
        std::string json = reply.arguments().value(1).toString().toStdString();
        return json.size() >= 2 && json.front() == '"' ? json.substr(1, json.size() - 2) : json;
    }
    // As CompositorSession says, with " shown=.." after.
    std::string window(const std::string& title) override {
        return eval("tovakJudge.describe(" + jsString(title) + ")");
    }
    void act(const std::string& title, const std::string& action) override {
        eval("tovakJudge.act(" + jsString(title) + ", " + jsString(action) + ")");
    }

  protected:
    // Moved before it first shows, a window would be placed again by the Shell.
    bool shown(const std::string& described) override { return described.ends_with("shown=true"); }

  private:
    // The Shell's own mount namespace needs root, and "/" a mount point (in a chroot unshare says "Invalid argument").
    static std::string cannotRunHere() {
        if (::access("/usr/bin/gnome-shell", X_OK) != 0) {
            return "gnome-shell is not installed (apt install gnome-shell)";
        }
        std::string said(256, '\0');
        FILE* probe = ::popen("unshare -m true 2>&1", "r");
        said.resize(probe != nullptr ? std::fread(said.data(), 1, said.size(), probe) : 0);
        const bool made = probe != nullptr && ::pclose(probe) == 0;
        return made ? "" : "no mount namespace here (needs root, and / a mount point): " + said;
    }

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
                        `sticky=${w.is_on_all_workspaces()} at=${r.x},${r.y} screen=${w.get_monitor()} ` +
                        `shown=${Boolean(w.get_compositor_private()?.visible)}`;
                },
                act(title, action) {
                    const w = find(title);
                    if (action === 'activate')
                        w.activate(global.get_current_time());
                    else if (action === 'minimize')
                        w.minimize();
                    else
                        w.move_to_monitor(Number(action.slice(7)));
                },
            };
        },
        disable() {},
    };
}
)";

    pid_t system_ = -1;
    std::string systemAddress_;
};

}  // namespace tovak::testing

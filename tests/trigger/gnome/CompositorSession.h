#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/XDisplay.h"

namespace tovak::testing {

// Waits up to 30 s (a loaded two-core machine starts a compositor slowly) for done to become true.
inline bool waitUntil(const std::function<bool()>& done) {
    return XDisplay::waitUntil(done, 30);
}

// What a headless compositor's test needs around it: a temporary home (run, config, data, home), a
// session bus of its own, and windows opened on it; all of it stops with the object. The compositor
// itself is the subclass's; it says what it knows of a window by its exact title.
class CompositorSession {
  public:
    CompositorSession() {
        static int argc = 1, sessions = 0;
        static char name[] = "tovak-test";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) {
            new QCoreApplication(argc, argv);  // lives until the process ends, as Qt expects
        }
        connectionName_ = QStringLiteral("compositor-session-%1").arg(++sessions);
        for (const char* folder : {"run", "config", "data", "home", "bin"}) {
            std::filesystem::create_directories(folder_ / folder);
        }
        std::filesystem::permissions(folder_ / "run", std::filesystem::perms::owner_all);
        address_ = startBus(daemon_);
        bus_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromStdString(address_), connectionName_));
    }
    virtual ~CompositorSession() {
        stopCompositor();
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
        stopChild(daemon_);
    }
    CompositorSession(const CompositorSession&) = delete;
    CompositorSession& operator=(const CompositorSession&) = delete;

    // What the compositor knows of the window with this exact title, "focused=.. minimized=.. above=..
    // sticky=.. at=X,Y screen=N", or "none".
    virtual std::string window(const std::string& title) = 0;
    // Acts on that window as a user would: "activate", "minimize", or "screen N" (moved there).
    virtual void act(const std::string& title, const std::string& action) = 0;

    // Opens windows with these titles in a program of their own, native Wayland or through XWayland,
    // and waits until the compositor shows them all.
    bool openWindows(bool x11, const std::vector<std::string>& titles, bool frameless = false) {
        std::vector<std::string> command = {"env",
                                            "-u",
                                            "WAYLAND_DISPLAY",
                                            "DBUS_SESSION_BUS_ADDRESS=" + address_,
                                            "XDG_RUNTIME_DIR=" + (folder_ / "run"),
                                            std::string("QT_QPA_PLATFORM=") + (x11 ? "xcb" : "wayland"),
                                            x11 ? "XAUTHORITY=" + xauthority_ : "WAYLAND_DISPLAY=" + kWaylandDisplay,
                                            TOVAK_TEST_WINDOW};
        if (frameless) {
            command.emplace_back("--frameless");
        }
        command.insert(command.end(), titles.begin(), titles.end());
        windows_.push_back(
            spawnChild(command, {.stdoutFd = -1, .display = x11 ? x11Display_ : "", .quietStderr = true}));
        return waitUntil([&] {
            for (const std::string& title : titles) {
                if (!shown(window(title))) {
                    return false;
                }
            }
            return true;
        });
    }

    [[nodiscard]] QDBusConnection& bus() const { return *bus_; }
    [[nodiscard]] const std::string& address() const { return address_; }
    [[nodiscard]] const TempDir& folder() const { return folder_; }

    // A JavaScript string literal of text.
    static std::string jsString(const std::string& text) {
        std::string literal = "'";
        for (const char c : text) {
            literal += c == '\\' || c == '\'' ? std::string("\\") + c : std::string(1, c);
        }
        return literal + "'";
    }

  protected:
    inline static const std::string kWaylandDisplay = "wayland-tovak";

    static std::string startBus(pid_t& daemon) {
        return spawnAndReadLine({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, daemon);
    }
    // Whether a window so described is on screen, and so placed, for openWindows.
    virtual bool shown(const std::string& described) { return described != "none"; }
    void stopCompositor() {
        for (pid_t windows : windows_) {
            stopChild(windows);
        }
        windows_.clear();
        stopChild(compositor_);
        compositor_ = -1;
    }

    TempDir folder_{"tovak-compositor"};
    pid_t compositor_ = -1;
    std::string address_, x11Display_, xauthority_;

  private:
    pid_t daemon_ = -1;
    std::vector<pid_t> windows_;
    QString connectionName_;
    std::unique_ptr<QDBusConnection> bus_;
};

}  // namespace tovak::testing

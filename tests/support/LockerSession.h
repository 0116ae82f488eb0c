#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/types.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace tovak::testing {

// A temporary home and a private session bus and, on request, an X server with a real screen locker
// from a Debian package; all of it stops with the object. startLocker returns why it could not
// start (for GTEST_SKIP), empty when it did; then watch or lock on bus().
class LockerSession {
  public:
    struct Locker {
        const char* program;
        const char* service;  // object path and interface follow from it
        // gnome-screensaver 3.6 crashes half a second after locking where the X server has no
        // gamma ramps (Xvfb): it gets the Xorg dummy server.
        bool needsGamma;
    };
    static constexpr Locker mate{"mate-screensaver", "org.mate.ScreenSaver", false};
    static constexpr Locker gnome{"gnome-screensaver", "org.gnome.ScreenSaver", true};

    LockerSession() {
        settings();
        static int argc = 1, sessions = 0;
        static char name[] = "tovak-test";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) {
            new QCoreApplication(argc, argv);  // lives until the process ends, as Qt expects
        }
        connectionName_ = QStringLiteral("locker-session-%1").arg(++sessions);
        std::filesystem::create_directories(folder_ / "run");
        std::filesystem::permissions(folder_ / "run", std::filesystem::perms::owner_all);
        address_ = QString::fromStdString(
            spawnAndReadLine({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, daemon_));
        bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, connectionName_));
    }
    ~LockerSession() {
        if (locker_ > 0) {
            ::kill(locker_, SIGCONT);  // a frozen locker hears no SIGTERM
        }
        stopChild(locker_);
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
        stopChild(daemon_);
        stopChild(display_);
    }
    LockerSession(const LockerSession&) = delete;
    LockerSession& operator=(const LockerSession&) = delete;

    std::string startLocker(const Locker& locker) {
        const std::string conf =
            folder_.write("xorg.conf", "Section \"Device\"\n Identifier \"d\"\n Driver \"dummy\"\nEndSection\n");
        const std::string number =
            locker.needsGamma
                ? spawnAndReadLine({"Xorg", "-displayfd", "{fd}", "-config", conf, "-logfile", conf + ".log",
                                    "-nolisten", "tcp", "-noreset", "-novtswitch", "-sharevts"},
                                   display_)
                : spawnAndReadLine({"Xvfb", "-displayfd", "{fd}", "-nolisten", "tcp"}, display_);
        if (!bus_->isConnected() || number.empty()) {
            return locker.needsGamma ? "no bus, or no Xorg dummy server (xserver-xorg-video-dummy; Xorg runs as root "
                                       "or with allowed_users=anybody in /etc/X11/Xwrapper.config)"
                                     : "no bus (dbus-daemon) or no Xvfb";
        }
        service_ = QString::fromLatin1(locker.service);
        locker_ = spawnChild({"env", "HOME=" + folder_.path().string(), "XDG_RUNTIME_DIR=" + (folder_ / "run"),
                              "DBUS_SESSION_BUS_ADDRESS=" + address_.toStdString(), locker.program, "--no-daemon"},
                             {.stdoutFd = -1, .display = ":" + number, .quietStderr = true});
        return waitForName(service_) ? "" : std::string(locker.program) + " did not start (not installed?)";
    }

    // GSettings for this process and its lockers in a keyfile of their own, not the machine's; set up
    // before anything in the process reads GSettings.
    static const TempDir& settings() {
        static const TempDir folder("tovak-settings");
        [[maybe_unused]] static const bool isolated = ::setenv("XDG_CONFIG_HOME", folder.path().c_str(), 1) == 0 &&
                                                      ::setenv("GSETTINGS_BACKEND", "keyfile", 1) == 0;
        return folder;
    }
    // Replaces them: keyfile text such as "[org/mate/screensaver]\nlock-enabled=false\n".
    static void writeSettings(const std::string& keyfile) { settings().write("glib-2.0/settings/keyfile", keyfile); }

    // Waits up to ten seconds for name to have an owner on the bus (or, owned false, none).
    bool waitForName(const QString& name, bool owned = true) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (bus_->interface()->isServiceRegistered(name) != owned && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return bus_->interface()->isServiceRegistered(name) == owned;
    }

    // Calls method on the locker's own service, object and interface.
    QDBusMessage callLocker(const QString& method, const QVariantList& arguments = {}) const {
        QDBusMessage message =
            QDBusMessage::createMethodCall(service_, "/" + QString(service_).replace('.', '/'), service_, method);
        message.setArguments(arguments);
        message.setAutoStartService(false);
        return bus_->call(message, QDBus::Block, 5000);
    }
    [[nodiscard]] bool active() const {
        const QDBusMessage reply = callLocker(QStringLiteral("GetActive"));
        return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
    }

    [[nodiscard]] QDBusConnection& bus() const { return *bus_; }
    [[nodiscard]] const QString& address() const { return address_; }
    [[nodiscard]] const TempDir& folder() const { return folder_; }
    [[nodiscard]] pid_t lockerPid() const { return locker_; }

  private:
    TempDir folder_{"tovak-locker"};
    pid_t daemon_ = -1, display_ = -1, locker_ = -1;
    QString address_, connectionName_, service_;
    std::unique_ptr<QDBusConnection> bus_;
};

}  // namespace tovak::testing

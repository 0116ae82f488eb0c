#include "support/LockerSession.h"

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <chrono>
#include <fstream>
#include <thread>

#include "support/ChildProcess.h"

namespace tovak::testing {

namespace fs = std::filesystem;

LockerSession::LockerSession() {
    static int argc = 1, sessions = 0;
    static char name[] = "tovak-test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        new QCoreApplication(argc, argv);  // lives until the process ends, as Qt expects
    }
    connectionName_ = QStringLiteral("locker-session-%1").arg(++sessions);
    folder_ = fs::temp_directory_path() / ("tovak-" + std::to_string(::getpid()) + "-" + std::to_string(sessions));
    fs::create_directories(folder_ / "run");
    fs::permissions(folder_ / "run", fs::perms::owner_all);
    address_ = QString::fromStdString(
        spawnAndReadLine({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, daemon_));
    bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, connectionName_));
}

LockerSession::~LockerSession() {
    if (locker_ > 0) {
        ::kill(locker_, SIGCONT);  // a frozen locker hears no SIGTERM
    }
    stopChild(locker_);
    bus_.reset();
    QDBusConnection::disconnectFromBus(connectionName_);
    stopChild(daemon_);
    stopChild(display_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::string LockerSession::startLocker(const Locker& locker) {
    const std::string conf = (folder_ / "xorg.conf").string();
    std::ofstream(conf) << "Section \"Device\"\n Identifier \"d\"\n Driver \"dummy\"\nEndSection\n";
    const std::string number =
        locker.needsGamma ? spawnAndReadLine({"Xorg", "-displayfd", "{fd}", "-config", conf, "-logfile", conf + ".log",
                                              "-nolisten", "tcp", "-noreset", "-novtswitch", "-sharevts"},
                                             display_)
                          : spawnAndReadLine({"Xvfb", "-displayfd", "{fd}", "-nolisten", "tcp"}, display_);
    if (!bus_->isConnected() || number.empty()) {
        return locker.needsGamma ? "no bus, or no Xorg dummy server (xserver-xorg-video-dummy; Xorg runs as root or "
                                   "with allowed_users=anybody in /etc/X11/Xwrapper.config)"
                                 : "no bus (dbus-daemon) or no Xvfb";
    }
    service_ = QString::fromLatin1(locker.service);
    locker_ = spawnChild({"env", "HOME=" + folder_.string(), "XDG_RUNTIME_DIR=" + (folder_ / "run").string(),
                          "DBUS_SESSION_BUS_ADDRESS=" + address_.toStdString(), locker.program, "--no-daemon"},
                         {.stdoutFd = -1, .display = ":" + number, .quietStderr = true});
    return waitForName(service_) ? "" : std::string(locker.program) + " did not start (not installed?)";
}

bool LockerSession::waitForName(const QString& name, bool owned) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (bus_->interface()->isServiceRegistered(name) != owned && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return bus_->interface()->isServiceRegistered(name) == owned;
}

bool LockerSession::active() const {
    QDBusMessage message = QDBusMessage::createMethodCall(service_, "/" + QString(service_).replace('.', '/'), service_,
                                                          QStringLiteral("GetActive"));
    message.setAutoStartService(false);
    const QDBusMessage reply = bus_->call(message, QDBus::Block, 1000);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

}  // namespace tovak::testing

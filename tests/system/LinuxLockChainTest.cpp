#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/linux/LinuxLockChain.h"
#include "platform/linux/LinuxSessionLockWatcher.h"
#include "runtime/SerialQueue.h"
#include "support/ChildProcess.h"
#include "support/ThreadedMainQueue.h"
#include "system/ScreenLock.h"

namespace tovak::platform {
namespace {

namespace fs = std::filesystem;

pid_t spawn(const std::vector<std::string>& command, int stdoutFd = -1) {
    return testing::spawnChild(command, {.stdoutFd = stdoutFd, .display = std::nullopt, .quietStderr = false});
}

void stop(pid_t pid) {
    testing::stopChild(pid);
}

// A private session bus (dbus-daemon of its own) with stand-in lockers on it.
class PrivateBus : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test_linux_lock";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) {
            new QCoreApplication(argc, argv);  // lives until the process ends, as Qt expects
        }
    }

    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tovak-bus-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        daemon_ = spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, fds[1]);
        ::close(fds[1]);
        ASSERT_GT(daemon_, 0) << "dbus-daemon did not start";
        std::string address;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') {
            address += c;
        }
        ::close(fds[0]);
        ASSERT_FALSE(address.empty());
        address_ = QString::fromStdString(address);
        connectionName_ = QStringLiteral("test-%1").arg(++connections_);
        bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, connectionName_));
        ASSERT_TRUE(bus_->isConnected());
        options_.xflock4 = (folder_ / "no-xflock4").string();
        options_.sessionId = "7";
        options_.confirmSeconds = 0.3;
    }

    void TearDown() override {
        for (pid_t pid : fakes_) {
            stop(pid);
        }
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
        stop(daemon_);
        fs::remove_all(folder_);
    }

    // Starts a stand-in that owns name; its calls are logged under the name.
    void fake(const std::string& name, bool confirm) {
        std::vector<std::string> command = {TOVAK_FAKE_LOCKER, address_.toStdString(), name, log(name).string()};
        if (confirm) {
            command.push_back("--confirm");
        }
        pid_t pid = spawn(command);
        ASSERT_GT(pid, 0);
        fakes_.push_back(pid);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!bus_->interface()->isServiceRegistered(QString::fromStdString(name))) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << name << " never appeared on the bus";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    fs::path log(const std::string& name) const { return folder_ / (name + ".log"); }
    std::vector<std::string> calls(const std::string& name) const {
        std::ifstream in(log(name));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    std::string tool(int status) {
        const fs::path path = folder_ / ("xflock4-" + std::to_string(status));
        std::ofstream(path) << "#!/bin/sh\necho ran >> '" << (folder_ / "xflock4.log").string() << "'\nexit " << status
                            << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }

    system::ScreenLock::Outcome lock() const {
        // The private bus stands in for the system bus as well, so logind can be faked on it.
        system::ScreenLock screenLock(std::make_shared<testing::ThreadedMainQueue>(),
                                      linuxLockChain(*bus_, *bus_, options_));
        return screenLock.runChain();
    }

    static inline int connections_ = 0;
    fs::path folder_;
    pid_t daemon_ = -1;
    std::vector<pid_t> fakes_;
    QString address_, connectionName_;
    std::unique_ptr<QDBusConnection> bus_;
    LinuxLockOptions options_;
};

TEST_F(PrivateBus, NoLockerAnywhereIsAFailureWithTheLinuxMessage) {
    auto main = std::make_shared<testing::ThreadedMainQueue>();
    system::ScreenLock screenLock(main, linuxLockChain(*bus_, *bus_, options_),
                                  std::make_shared<runtime::SerialQueue>("tovak.lock"));
    std::atomic<int> calls{0};
    std::atomic<bool> onMain{false};
    bool success = true;
    std::optional<std::string> message;
    screenLock.lockNow([&](bool ok, std::optional<std::string> text) {
        ++calls;
        onMain = main->isCurrent();
        success = ok;
        message = std::move(text);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (calls == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    main->flush();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMain);
    EXPECT_FALSE(success);
    EXPECT_EQ(message,
              "Блокировка не сработала: не найдена служба блокировки экрана (KDE, GNOME, Cinnamon, MATE, "
              "Xfce, logind).");
}

TEST_F(PrivateBus, ConfirmedFreedesktopScreenSaverLocks) {
    fake("org.freedesktop.ScreenSaver", true);
    system::ScreenLock::Outcome outcome = lock();
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.method, "org.freedesktop.ScreenSaver");
    EXPECT_EQ(calls("org.freedesktop.ScreenSaver"), (std::vector<std::string>{"Lock", "GetActive"}));
}

TEST_F(PrivateBus, LockThatIsNotConfirmedIsNeverASuccess) {
    fake("org.freedesktop.ScreenSaver", false);
    system::ScreenLock::Outcome outcome = lock();
    EXPECT_FALSE(outcome.success);
    const std::vector<std::string> asked = calls("org.freedesktop.ScreenSaver");
    ASSERT_GE(asked.size(), 2u);
    EXPECT_EQ(asked.front(), "Lock");
    EXPECT_EQ(asked.back(), "GetActive");
}

TEST_F(PrivateBus, UnconfirmedLockerFallsThroughToTheNextConfirmedOne) {
    fake("org.freedesktop.ScreenSaver", false);
    fake("org.mate.ScreenSaver", true);
    fake("org.xfce.ScreenSaver", true);
    system::ScreenLock::Outcome outcome = lock();
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.method, "org.mate.ScreenSaver");
    EXPECT_EQ(calls("org.freedesktop.ScreenSaver").front(), "Lock");
    EXPECT_TRUE(calls("org.xfce.ScreenSaver").empty()) << "the chain stops at the first confirmed lock";
}

TEST_F(PrivateBus, GnomeComesBeforeCinnamon) {
    fake("org.cinnamon.ScreenSaver", true);
    fake("org.gnome.ScreenSaver", true);
    EXPECT_EQ(lock().method, "org.gnome.ScreenSaver");
    EXPECT_TRUE(calls("org.cinnamon.ScreenSaver").empty());
}

TEST_F(PrivateBus, Xflock4ExitingZeroLocksBeforeLogindIsAsked) {
    fake("org.freedesktop.login1", true);
    options_.xflock4 = tool(0);
    EXPECT_EQ(lock().method, "xflock4");
    EXPECT_TRUE(calls("org.freedesktop.login1").empty());
}

TEST_F(PrivateBus, LogindLocksTheNamedSessionAndWaitsForLockedHint) {
    fake("org.freedesktop.login1", true);
    options_.xflock4 = tool(1);
    system::ScreenLock::Outcome outcome = lock();
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.method, "logind");
    EXPECT_EQ(calls("org.freedesktop.login1"), (std::vector<std::string>{"GetSession", "7", "Lock", "Get"}));
    EXPECT_TRUE(fs::exists(folder_ / "xflock4.log")) << "xflock4 was tried first";
}

TEST_F(PrivateBus, LogindAsksForThisProcessSessionWhenNoneIsNamed) {
    fake("org.freedesktop.login1", true);
    options_.sessionId.reset();
    EXPECT_TRUE(lock().success);
    const std::vector<std::string> asked = calls("org.freedesktop.login1");
    ASSERT_GE(asked.size(), 2u);
    EXPECT_EQ(asked[0], "GetSessionByPID");
    EXPECT_EQ(asked[1], std::to_string(::getpid()));
}

TEST_F(PrivateBus, LogindWithoutLockedHintIsAFailure) {
    fake("org.freedesktop.login1", false);
    system::ScreenLock::Outcome outcome = lock();
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(calls("org.freedesktop.login1").at(2), "Lock");
}

// The lock state as the stand-ins announce it; the private bus stands in for both buses.
TEST_F(PrivateBus, LockStateFollowsLogindAndEveryScreensaver) {
    fake("org.freedesktop.login1", true);
    fake("org.mate.ScreenSaver", true);
    LinuxSessionLockWatcher watcher(*bus_, *bus_, options_);
    EXPECT_TRUE(watcher.isAvailable());
    std::vector<bool> changes;
    watcher.setOnChange([&](bool locked) { changes.push_back(locked); });
    const auto ask = [&](const char* service, const char* path, const char* interface, const char* method) {
        bus_->call(QDBusMessage::createMethodCall(service, path, interface, method));
        // The announcements arrive through the event loop.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        while (std::chrono::steady_clock::now() < until) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
    };
    const char* session = "/org/freedesktop/login1/session/_37";
    const char* sessionInterface = "org.freedesktop.login1.Session";
    const char* mate[] = {"org.mate.ScreenSaver", "/org/mate/ScreenSaver", "org.mate.ScreenSaver"};
    ask("org.freedesktop.login1", session, sessionInterface, "Lock");
    EXPECT_EQ(changes, (std::vector<bool>{true}));
    ask(mate[0], mate[1], mate[2], "Lock");
    ask("org.freedesktop.login1", session, sessionInterface, "Unlock");
    EXPECT_EQ(changes, (std::vector<bool>{true})) << "the screensaver still covers the screen";
    EXPECT_TRUE(watcher.isLocked());
    ask(mate[0], mate[1], mate[2], "Unlock");
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
}

TEST_F(PrivateBus, WithoutAnyLockStateServiceNothingIsWatched) {
    LinuxSessionLockWatcher watcher(*bus_, *bus_, options_);
    EXPECT_FALSE(watcher.isAvailable());
    EXPECT_FALSE(watcher.isLocked());
}

}  // namespace
}  // namespace tovak::platform

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <chrono>
#include <filesystem>
#include <functional>
#include <tuple>

#include "lock/ScreenLock.h"
#include "lock/linux/LinuxLockChain.h"
#include "lock/linux/LinuxSessionLockWatcher.h"
#include "runtime/SerialQueue.h"
#include "support/ChildProcess.h"
#include "support/LockerSession.h"
#include "support/MonitorHarness.h"
#include "support/ThreadedMainQueue.h"

namespace tovak::lock {
namespace {

namespace fs = std::filesystem;

struct Result {
    int calls = 0;
    bool onMain = false, ok = false;
    std::optional<std::string> text;
};

// lockNow as the application runs it: the chain on a worker of its own, the answer on main. The
// session's bus stands in for the system bus as well, so logind can be faked on it.
Result lockNow(const testing::LockerSession& session, LinuxLockOptions options = {}) {
    if (options.xflock4.find('/') == std::string::npos) {
        options.xflock4 = session.folder() / "none";  // never the machine's own
    }
    auto main = std::make_shared<testing::ThreadedMainQueue>();
    auto worker = std::make_shared<runtime::SerialQueue>("tovak.lock");
    Result result;
    lock::ScreenLock(main, linuxLockChain(session.bus(), session.bus(), options), worker)
        .lockNow([&](bool ok, std::optional<std::string> text) {
            result = {result.calls + 1, main->isCurrent(), ok, std::move(text)};
        });
    worker->shutdown();
    main->sync([] {});
    EXPECT_EQ(result.calls, 1);
    return result;
}

// Runs the event loop, where the bus announcements arrive, until done or the time is up.
void pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    while (!done() && std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// A private session bus (dbus-daemon of its own) with stand-in lockers on it.
class PrivateBus : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session_.bus().isConnected());
        options_.xflock4 = folder_ / "no-xflock4";
        options_.sessionId = "7";
        options_.confirmSeconds = 0.3;
    }

    void TearDown() override {
        for (pid_t pid : fakes_) {
            testing::stopChild(pid);
        }
    }

    // Starts a stand-in that owns name; its calls are logged under the name.
    void fake(const std::string& name, const char* mode) {
        fakes_.push_back(
            testing::spawnChild({TOVAK_FAKE_LOCKER, session_.address().toStdString(), name, log(name).string(), mode}));
        ASSERT_TRUE(session_.waitForName(QString::fromStdString(name))) << name << " never appeared on the bus";
    }
    fs::path log(const std::string& name) const { return folder_ / (name + ".log"); }
    // The methods the stand-in was asked for (and the arguments it logs), one a line.
    std::string calls(const std::string& name) const { return folder_.read(name + ".log"); }
    // A stand-in xflock4 exiting with status; with lock, it first asks logind to lock the session, as
    // light-locker marks it locked.
    std::string tool(int status, bool lock = false) {
        const std::string name = "xflock4-" + std::to_string(status) + (lock ? "-lock" : "");
        return folder_.script(name, "echo ran >> '" + (folder_ / "xflock4.log") + "'\n" +
                                        (lock ? "dbus-send --bus='" + session_.address().toStdString() +
                                                    "' --print-reply --dest=org.freedesktop.login1 "
                                                    "/org/freedesktop/login1/session/_37 "
                                                    "org.freedesktop.login1.Session.Lock >/dev/null\n"
                                              : "") +
                                        "exit " + std::to_string(status));
    }

    lock::ScreenLock::Outcome lock() const {
        return lock::ScreenLock(std::make_shared<testing::ThreadedMainQueue>(),
                                linuxLockChain(session_.bus(), session_.bus(), options_))
            .runChain();
    }

    testing::LockerSession session_;
    const testing::TempDir& folder_ = session_.folder();
    std::vector<pid_t> fakes_;
    LinuxLockOptions options_;
};

TEST_F(PrivateBus, NoLockerAnywhereIsAFailureWithTheLinuxMessageAndNothingIsWatched) {
    LinuxSessionLockWatcher watcher(session_.bus(), session_.bus(), options_);
    EXPECT_FALSE(watcher.isAvailable());
    EXPECT_FALSE(watcher.isLocked());
    const Result result = lockNow(session_, options_);
    EXPECT_TRUE(result.onMain);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.text,
              "Блокировка не сработала: не найдена служба блокировки экрана (KDE, GNOME, Cinnamon, MATE, "
              "Xfce, logind).");
}

TEST_F(PrivateBus, FirstConfirmedLockerInOrderLocks) {
    fake("org.freedesktop.ScreenSaver", "");
    fake("org.cinnamon.ScreenSaver", "--confirm");
    fake("org.gnome.ScreenSaver", "--confirm");
    lock::ScreenLock::Outcome outcome = lock();
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.method, "GNOME");
    EXPECT_TRUE(calls("org.freedesktop.ScreenSaver").starts_with("Lock\n")) << "the unconfirmed row was asked first";
    EXPECT_EQ(calls("org.gnome.ScreenSaver"), "Lock\nGetActive\n");
    EXPECT_EQ(calls("org.cinnamon.ScreenSaver"), "") << "the chain stops at the first confirmed lock";
}

TEST_F(PrivateBus, LockThatIsNotConfirmedIsNeverASuccessAndNamesTheLocker) {
    // Answered "done" and never active: asked until the window ends. Refused: the row ends at once.
    fake("org.freedesktop.ScreenSaver", "");
    fake("org.gnome.ScreenSaver", "--refuse");
    fake("org.freedesktop.login1", "");
    lock::ScreenLock::Outcome outcome = lock();
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.unconfirmed, (std::vector<std::string>{"KDE", "GNOME", "logind"}));
    const std::string asked = calls("org.freedesktop.ScreenSaver");
    EXPECT_TRUE(asked.starts_with("Lock\nGetActive\nGetActive\n") && asked.ends_with("GetActive\n")) << asked;
    EXPECT_EQ(calls("org.gnome.ScreenSaver"), "Lock\n");
    EXPECT_TRUE(calls("org.freedesktop.login1").starts_with("GetSession\n7\nLock\n"));
    EXPECT_EQ(linuxUnconfirmedLockMessage(outcome.unconfirmed),
              "Блокировка не сработала: KDE, GNOME и logind не подтвердили блокировку.");
}

TEST_F(PrivateBus, Xflock4CountsOnlyOnceTheSessionIsLockedElseLogindLocksTheNamedOrThisProcessSession) {
    options_.xflock4 = tool(0);
    lock::ScreenLock::Outcome outcome = lock();
    EXPECT_FALSE(outcome.success) << "an exit status of zero alone is no lock";
    EXPECT_EQ(linuxUnconfirmedLockMessage(outcome.unconfirmed),
              "Блокировка не сработала: xflock4 не подтвердил блокировку.");
    fake("org.freedesktop.login1", "--confirm");
    options_.xflock4 = tool(0, true);
    EXPECT_EQ(lock().method, "xflock4");
    EXPECT_TRUE(calls("org.freedesktop.login1").starts_with("Lock\nGetSession\n7\nGet\n"));
    fs::remove(log("org.freedesktop.login1"));
    options_.xflock4 = tool(1);
    outcome = lock();
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.method, "logind");
    EXPECT_EQ(calls("org.freedesktop.login1"), "GetSession\n7\nLock\nGet\n");
    EXPECT_TRUE(fs::exists(folder_ / "xflock4.log")) << "xflock4 was tried first";
    fs::remove(log("org.freedesktop.login1"));
    options_.sessionId.reset();
    EXPECT_TRUE(lock().success);
    EXPECT_EQ(calls("org.freedesktop.login1"), "GetSessionByPID\n" + std::to_string(::getpid()) + "\nLock\nGet\n");
}

// Each locker's own lock settings, read where it keeps them, as it reads them; a value it could not
// act on, or settings nobody can read, are no lock. A changed keyfile is read again in the main loop.
TEST_F(PrivateBus, LockersOwnSettingsAreReadWhereTheyKeepThemAndAnUnusableValueIsNoLock) {
    const std::optional<LockerPolicy> none;
    const struct Row {
        const char* name;
        const char* service;
        const char* settings;  // GSettings keyfile, or xfconf's values (none: no xfconf)
        std::optional<LockerPolicy> policy;
    } rows[] = {
        {"MATE's lock off", "org.mate.ScreenSaver", "[org/mate/screensaver]\nlock-enabled=false\n", LockerPolicy{}},
        {"MATE counts minutes", "org.mate.ScreenSaver", "[org/mate/screensaver]\nlock-delay=2\n",
         LockerPolicy{true, 120}},
        {"MATE's negative delay", "org.mate.ScreenSaver", "[org/mate/screensaver]\nlock-delay=-5\n", none},
        {"MATE locked down", "org.mate.ScreenSaver", "[org/mate/desktop/lockdown]\ndisable-lock-screen=true\n",
         LockerPolicy{}},
        {"MATE by default", "org.mate.ScreenSaver", "", LockerPolicy{true, 0}},
        {"the freedesktop name's owner varies", "org.freedesktop.ScreenSaver", "", none},
        {"Xfce without xfconf", "org.xfce.ScreenSaver", nullptr, none},
        {"Xfce by default", "org.xfce.ScreenSaver", "", LockerPolicy{true, 0}},
        {"Xfce's lock off", "org.xfce.ScreenSaver", "/lock/enabled=false", LockerPolicy{}},
        {"Xfce's lock with the screensaver off", "org.xfce.ScreenSaver", "/lock/saver-activation/enabled=false",
         LockerPolicy{}},
        {"Xfce counts minutes", "org.xfce.ScreenSaver", "/lock/saver-activation/delay=3", LockerPolicy{true, 180}},
        {"Xfce's number for a switch", "org.xfce.ScreenSaver", "/lock/enabled=1", none},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const bool xfconf = std::string(row.service) == "org.xfce.ScreenSaver" && row.settings != nullptr;
        if (xfconf) {
            fake("org.xfce.Xfconf", row.settings);
        } else if (row.settings != nullptr) {
            testing::LockerSession::writeSettings(row.settings);
        }
        const auto read = [&] { return linuxLockerPolicy(row.service, session_.bus(), 500); };
        pumpUntil([&] { return read() == row.policy; }, std::chrono::seconds(10));
        EXPECT_EQ(read(), row.policy);
        if (xfconf) {
            testing::stopChild(fakes_.back());
            fakes_.pop_back();
            ASSERT_TRUE(session_.waitForName(QStringLiteral("org.xfce.Xfconf"), false));
        }
    }
}

// As the README promises: 3 s to confirm, 0.5 s for Lock's reply, 1 s to find a locker (4 s at most).
TEST(LinuxLockOptions, AreTheTimingsTheUserIsPromised) {
    const LinuxLockOptions given;
    EXPECT_EQ(std::tuple(given.confirmSeconds, given.requestTimeoutMs, given.callTimeoutMs),
              std::tuple(3.0, 500, 1000));
}

// Real lockers from Debian packages, each on an X server and a bus of its own (ctest label locker).
class RealLocker : public ::testing::TestWithParam<testing::LockerSession::Locker> {
  protected:
    void SetUp() override {
        if (std::string why = session.startLocker(GetParam()); !why.empty()) {
            GTEST_SKIP() << why;
        }
    }
    testing::LockerSession session;
};

// MATE locks without ever answering Lock; GNOME answers. The pause while locked hears the real lockers:
// ActiveChanged on the lock, and on the unlock (SetActive false, which the lockers take without a password).
TEST_P(RealLocker, LocksIsConfirmedAndTheLockStateWatcherHearsTheLockAndTheUnlock) {
    LinuxSessionLockWatcher watcher(session.bus(), session.bus());
    ASSERT_FALSE(session.active());
    std::vector<bool> changes;
    watcher.setOnChange([&](bool locked) { changes.push_back(locked); });
    const Result result = lockNow(session);
    EXPECT_TRUE(result.ok) << result.text.value_or("");
    EXPECT_EQ(result.text, std::nullopt);
    EXPECT_TRUE(session.active()) << "the locker itself reports the lock";
    pumpUntil([&] { return !changes.empty(); }, std::chrono::seconds(10));
    EXPECT_EQ(changes, (std::vector<bool>{true}));
    EXPECT_TRUE(watcher.isLocked());
    session.callLocker(QStringLiteral("SetActive"), {false});
    pumpUntil([&] { return changes.size() >= 2; }, std::chrono::seconds(10));
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    EXPECT_FALSE(session.active());
}

INSTANTIATE_TEST_SUITE_P(Debian, RealLocker,
                         ::testing::Values(testing::LockerSession::mate, testing::LockerSession::gnome),
                         [](const auto& row) { return std::string(row.param.program).substr(0, 4); });

// Frozen, it still owns its name but never confirms; killed, its name leaves the bus and no locker is found.
TEST(RealMateLocker, FrozenIsNamedAsNotConfirmingAndKilledIsNotFound) {
    testing::LockerSession session;
    if (std::string why = session.startLocker(testing::LockerSession::mate); !why.empty()) {
        GTEST_SKIP() << why;
    }
    ::kill(session.lockerPid(), SIGSTOP);
    const Result frozen = lockNow(session);
    EXPECT_FALSE(frozen.ok);
    EXPECT_EQ(frozen.text, "Блокировка не сработала: MATE не подтвердил блокировку.");
    ::kill(session.lockerPid(), SIGKILL);
    ASSERT_TRUE(session.waitForName(QStringLiteral("org.mate.ScreenSaver"), false));
    const Result killed = lockNow(session);
    EXPECT_FALSE(killed.ok);
    EXPECT_EQ(killed.text,
              "Блокировка не сработала: не найдена служба блокировки экрана (KDE, GNOME, Cinnamon, MATE, "
              "Xfce, logind).");
}

// A screensaver whose lock is off only blanks: the visitor who wakes it is seen and locked out as if
// it never had. Tovak's own lock, and the locker's once its settings lock, end away mode as before.
TEST(RealMateLocker, WithItsLockOffBlankingAndWakingChangeNothingAndItsLocksEndAwayModeAsBefore) {
    testing::LockerSession::writeSettings("[org/mate/screensaver]\nlock-enabled=false\n");
    testing::LockerSession session;
    if (std::string why = session.startLocker(testing::LockerSession::mate); !why.empty()) {
        GTEST_SKIP() << why;
    }
    testing::MonitorHarness h{[&](monitor::Ports& deps) {
        deps.lockWatcher = std::make_shared<LinuxSessionLockWatcher>(session.bus(), session.bus());
    }};
    const auto settled = [&](const std::function<bool()>& done) {
        pumpUntil([&] { return h.sim.drain(), done(); }, std::chrono::seconds(10));
        return done();
    };
    const auto setActive = [&](bool on) {
        session.callLocker(QStringLiteral("SetActive"), {on});
        EXPECT_TRUE(settled([&] { return session.active() == on; }));
        pumpUntil([&] { return h.sim.drain(), false; }, std::chrono::milliseconds(500));  // its signal is heard
    };
    ASSERT_TRUE(settled([&] { return !linuxLockerPolicy("org.mate.ScreenSaver", session.bus(), 500)->locks; }));
    h.start();
    h.setAway(true);
    setActive(true);
    setActive(false);
    EXPECT_TRUE(h.monitor->awayMode.get() && h.camera->isRunning()) << "blanking is no lock, waking no unlock";
    for (const bool own : {true, false}) {
        SCOPED_TRACE(own ? "Tovak's lock" : "the locker's");
        h.setAway(true);
        if (own) {
            ASSERT_TRUE(lockNow(session).ok);
        } else {
            testing::LockerSession::writeSettings("");
            ASSERT_TRUE(settled([&] { return linuxLockerPolicy("org.mate.ScreenSaver", session.bus(), 500)->locks; }));
            setActive(true);
        }
        EXPECT_TRUE(settled([&] { return h.status() == "Пауза: экран заблокирован" && !h.camera->isRunning(); }));
        setActive(false);
        EXPECT_TRUE(settled([&] { return !h.monitor->awayMode.get() && h.camera->isRunning(); }));
    }
}

// The lock state as the stand-ins announce it; the private bus stands in for both buses.
TEST_F(PrivateBus, LockStateFollowsLogindAndEveryScreensaver) {
    fake("org.freedesktop.login1", "--confirm");
    fake("org.mate.ScreenSaver", "--confirm");
    LinuxSessionLockWatcher watcher(session_.bus(), session_.bus(), options_);
    EXPECT_TRUE(watcher.isAvailable());
    std::vector<bool> changes;
    watcher.setOnChange([&](bool locked) { changes.push_back(locked); });
    const auto ask = [&](bool logind, const char* method) {
        session_.bus().call(logind ? QDBusMessage::createMethodCall("org.freedesktop.login1",
                                                                    "/org/freedesktop/login1/session/_37",
                                                                    "org.freedesktop.login1.Session", method)
                                   : QDBusMessage::createMethodCall("org.mate.ScreenSaver", "/org/mate/ScreenSaver",
                                                                    "org.mate.ScreenSaver", method));
        pumpUntil([] { return false; }, std::chrono::milliseconds(300));
    };
    ask(true, "Lock");
    EXPECT_EQ(changes, (std::vector<bool>{true}));
    ask(false, "Lock");
    ask(true, "Unlock");
    EXPECT_EQ(changes, (std::vector<bool>{true})) << "the screensaver still covers the screen";
    EXPECT_TRUE(watcher.isLocked());
    ask(false, "Unlock");
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));

    // A screensaver is a lock once past its lock delay, and not before.
    testing::LockerSession::writeSettings("[org/gnome/desktop/screensaver]\nlock-delay=uint32 2\n");
    pumpUntil([&] { return linuxLockerPolicy("org.gnome.ScreenSaver", session_.bus(), 500)->delaySeconds == 2; },
              std::chrono::seconds(10));
    fake("org.gnome.ScreenSaver", "--confirm");
    const auto asked = std::chrono::steady_clock::now();
    session_.bus().call(QDBusMessage::createMethodCall("org.gnome.ScreenSaver", "/org/gnome/ScreenSaver",
                                                       "org.gnome.ScreenSaver", "Lock"));
    pumpUntil([&] { return changes.size() > 2; }, std::chrono::seconds(10));
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true}));
    EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2)) << "within its lock delay";
    testing::LockerSession::writeSettings("");
}

}  // namespace
}  // namespace tovak::lock

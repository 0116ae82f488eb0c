// Tovak from a script: the real tovak window application on the demo camera, on a session bus of its
// own, driven by the real tovak command line; the bus's signals as gdbus monitor sees them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string_view>
#include <thread>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "system/Json.h"

namespace tovak::testing {
namespace {

struct Said {
    int status;
    std::string text;  // standard output and error together
};

class ControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::system("command -v dbus-daemon >/dev/null && command -v gdbus >/dev/null") != 0) {
            GTEST_SKIP() << "no dbus-daemon or gdbus (apt install dbus-daemon libglib2.0-bin)";
        }
        // A bus any account may join, so that a caller of another account can be tried.
        dir_.write("bus.conf",
                   "<busconfig><include>/usr/share/dbus-1/session.conf</include><policy "
                   "context=\"default\"><allow user=\"*\"/></policy></busconfig>");
        address_ = spawnAndReadLine(
            {"dbus-daemon", "--config-file=" + dir_ / "bus.conf", "--nofork", "--nopidfile", "--print-address=1"},
            bus_);
        ASSERT_FALSE(address_.empty()) << "the private bus did not start";
        std::filesystem::create_directories(dir_.path() / "run");
        std::filesystem::permissions(dir_.path() / "run", std::filesystem::perms::owner_all);
    }
    void TearDown() override {
        for (pid_t pid : {tovak_, monitor_, bus_}) {
            stopChild(pid);
        }
    }

    std::vector<std::string> environment(const std::string& instance = "one") {
        return {"env",
                "DBUS_SESSION_BUS_ADDRESS=" + address_,
                "QT_QPA_PLATFORM=offscreen",
                "XDG_CONFIG_HOME=" + dir_ / "config",
                "XDG_CONFIG_DIRS=" + dir_ / "xdg",
                "XDG_RUNTIME_DIR=" + dir_ / "run",
                "TOVAK_INSTANCE_NAME=tovak-test-" + instance};
    }
    // The tovak command line with these arguments, to its end.
    Said tovak(const std::string& arguments, const std::string& instance = "one", const std::string& as = "") {
        std::string command = as;
        for (const std::string& word : environment(instance)) {
            command += " '" + word + "'";
        }
        FILE* pipe = ::popen((command + " '" TOVAK_BINARY "' " + arguments + " 2>&1").c_str(), "r");
        std::string text;
        for (char buffer[512]; pipe != nullptr && ::fgets(buffer, sizeof buffer, pipe) != nullptr;) {
            // Said once at start on a CPU without bf16 instructions; not what these tests are about.
            if (std::string_view(buffer).starts_with("tovak: face detection runs in f32: ")) {
                continue;
            }
            text += buffer;
        }
        const int status = pipe != nullptr ? ::pclose(pipe) : -1;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
    }
    // The window application on the demo camera, and a listener for its signals.
    void launch() {
        std::vector<std::string> command = environment();
        command.insert(command.end(), {TOVAK_BINARY, "--camera", "demo", "--lock", "dry-run"});
        tovak_ = spawnChild(command, {.stdoutFd = -1, .display = "", .quietStderr = true});
        const int signals = ::open((dir_ / "signals").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        monitor_ = spawnChild({"gdbus", "monitor", "--address", address_, "--dest", "org.tovak.Tovak1"},
                              {.stdoutFd = signals, .display = std::nullopt, .quietStderr = true});
        ::close(signals);
    }
    // The state --status --json gives once it is what the test waits for (or after a minute).
    system::Json statusOnce(const std::function<bool(const system::Json&)>& wanted) {
        std::optional<system::Json> state;
        for (int i = 0; i < 600 && !(state && wanted(*state)); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const Said said = tovak("--status --json");
            state = said.status == 0 ? system::Json::parse(said.text) : std::nullopt;
        }
        return state.value_or(system::Json{});
    }

    TempDir dir_;
    std::string address_;
    pid_t bus_ = -1, tovak_ = -1, monitor_ = -1;
};

TEST_F(ControlTest, EveryCommandDrivesTheRunningTovakAndWithoutOneSaysSo) {
    for (const char* command : {"--status", "--status --json", "--pause 15m", "--resume", "--away", "--stop"}) {
        const Said said = tovak(command);
        EXPECT_EQ(said.status, 5) << command;
        EXPECT_EQ(said.text, "tovak: Товак не запущен\n") << command;
    }
    launch();
    const system::Json first = statusOnce([](const system::Json& s) { return s["state"].text() == "stopped"; });
    EXPECT_FALSE(first["away"].isTrue());
    EXPECT_EQ(first["pausedUntil"].kind(), system::Json::Kind::null);
    EXPECT_EQ(first["status"].text(), "Готов");
    EXPECT_EQ(tovak("--status").text, "Состояние: остановлен\nОтошёл: нет\nСтрока состояния: Готов\n");

    const struct Step {
        const char* command;
        int status;
        const char* said;
        const char* state;
        int away;  // -1: either (the demo's user comes and goes)
    } steps[] = {
        {"--away", 0, "", "stopped", 1},
        {"--back", 0, "", "stopped", 0},
        {"--pause 15m", 6, "tovak: Товак остановлен: ставить на паузу нечего\n", "stopped", 0},
        {"--start", 0, "tovak: already running; its window was brought to the front and it watches\n", "watching", -1},
        {"--pause 15m", 0, "", "paused", 0},
        {"--resume", 0, "", "watching", -1},
        {"--stop", 0, "", "stopped", 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        const Said said = tovak(step.command);
        EXPECT_EQ(said.status, step.status);
        EXPECT_EQ(said.text, step.said);
        const system::Json now = statusOnce([&](const system::Json& s) {
            return s["state"].text() == step.state && (step.away < 0 || s["away"].isTrue() == (step.away == 1));
        });
        EXPECT_EQ(now["state"].text(), step.state);
        if (now["state"].text() == "paused") {
            const double until = now["pausedUntil"].number(), expected = static_cast<double>(std::time(nullptr)) + 900;
            EXPECT_TRUE(until > expected - 120 && until <= expected + 1) << until;
            EXPECT_EQ(tovak("--status").text.rfind("Состояние: пауза до ", 0), 0u);
        }
    }
    const std::string signals = dir_.read("signals");
    for (const char* change :
         {"{'Away': <true>}", "'State': <'watching'>", "'State': <'paused'>", "'Status': <'Стоп'>"}) {
        EXPECT_NE(signals.find(change), std::string::npos) << change << " in\n" << signals;
    }

    // A second Tovak is refused: the socket shows the first one's window, and the bus name stops one
    // the socket did not reach.
    EXPECT_EQ(tovak("--camera demo", "one", "timeout 120").text,
              "tovak: already running; its window was brought to the front\n");
    const Said beside = tovak("--camera demo", "two", "timeout 120");
    EXPECT_EQ(beside.status, 6);
    EXPECT_EQ(beside.text, "tovak: Товак уже запущен\n");
}

TEST_F(ControlTest, WhatTheAdministratorLockedIsRefusedWithItsReason) {
    dir_.write("xdg/tovak/tovak.conf",
               "[General]\ntovak.startWatching=true\ntovak.longestPauseSeconds=900\ntovak.colour=red\n"
               "[Locked]\ntovak.camera\n");
    const std::string ignored =
        "tovak: " + dir_ / "xdg/tovak/tovak.conf" + ":4: неизвестный ключ tovak.colour, пропущен\n";
    const Said camera = tovak("--camera /dev/video0");
    EXPECT_EQ(camera.status, 2);
    EXPECT_EQ(camera.text, ignored +
                               "tovak: the camera is set by the administrator; --camera cannot choose another "
                               "(камера задана администратором)\n");
    launch();
    EXPECT_EQ(statusOnce([](const system::Json& s) { return s["state"].text() == "watching"; })["state"].text(),
              "watching")
        << "the administrator's default starts watching at once";
    const struct Step {
        const char* command;
        int status;
        const char* said;
    } steps[] = {
        {"--pause 16m", 6, "tovak: Администратор разрешает паузу не дольше 15 мин\n"},
        {"--stop", 6, "tovak: Остановку запретил администратор\n"},
        {"--pause 15m", 0, ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        const Said said = tovak(step.command);
        EXPECT_EQ(said.status, step.status);
        EXPECT_EQ(said.text, step.said);
    }
    EXPECT_EQ(statusOnce([](const system::Json& s) { return s["state"].text() == "paused"; })["state"].text(),
              "paused");
}

TEST_F(ControlTest, ACallerOfAnotherAccountIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can call as another account";
    }
    launch();
    statusOnce([](const system::Json& s) { return s["state"].text() == "stopped"; });
    const Said said = tovak("--away", "one", "setpriv --reuid=65534 --regid=65534 --clear-groups");
    EXPECT_EQ(said.status, 6);
    EXPECT_EQ(said.text, "tovak: Товак слушается только своего пользователя\n");
    EXPECT_FALSE(statusOnce([](const system::Json&) { return true; })["away"].isTrue());
}

}  // namespace
}  // namespace tovak::testing

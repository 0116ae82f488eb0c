// The whole window application on the demo camera: the panel before and after "Старт", the live
// preview with its outlines and the floating panel once the onlooker is confirmed; one Tovak per
// user. Screenshots go to TOVAK_SCREENSHOT_DIR for a person to look at.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "app/SingleInstance.h"
#include "app/TovakApp.h"
#include "support/QtTest.h"
#include "support/TempDir.h"

using namespace tovak;
using tovak::testing::saveScreenshot;

namespace {

app::Options demo() {
    return *app::parseCommandLine({"--camera", "demo", "--lock", "dry-run"}).options;
}

QWidget* panel() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && top->windowTitle() == "Товак — панель" && top->size() == QSize(280, 210)) {
            return top;
        }
    }
    return nullptr;
}

}  // namespace

TEST(DemoWindow, StartShowsTheCameraThePreviewAndThePanelForTheOnlooker) {
    std::string error;
    app::TovakApp application(demo(), error);
    ASSERT_TRUE(error.empty()) << error;
    QMainWindow& window = application.showMainWindow();
    window.resize(520, 640);
    QTest::qWait(50);
    auto& monitor = application.monitor();
    saveScreenshot(&window, "1-before-start");

    QTest::mouseClick(window.findChild<QPushButton*>("startButton"), Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return monitor.isRunning.get() && monitor.previewImage.get().has_value(); }, 10000));
    EXPECT_EQ(monitor.statusLine.get(), "● Демо-камера");

    // The onlooker steps in 8 s into the scene; two outlines and the floating panel follow.
    ASSERT_TRUE(QTest::qWaitFor([&] { return monitor.previewFaceRects.get().size() == 2; }, 15000));
    ASSERT_TRUE(QTest::qWaitFor([] { return panel() != nullptr; }, 5000));
    QTest::qWait(300);
    saveScreenshot(&window, "2-onlooker");
    saveScreenshot(panel(), "3-panel");
    // The least the window allows, wider, and about a maximised one.
    for (const QSize size : {QSize(1, 1), QSize(900, 640), QSize(1440, 900)}) {
        window.resize(size);
        QTest::qWait(300);
        saveScreenshot(&window, QString("4-onlooker-%1x%2").arg(window.width()).arg(window.height()));
    }
    QTest::mouseClick(window.findChild<QPushButton*>("stopButton"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !monitor.isRunning.get(); }, 5000));
}

TEST(SingleInstance, ASecondStartShowsTheFirstInstancesWindowAgain) {
    qputenv("TOVAK_INSTANCE_NAME", QByteArray("tovak-test-") + QByteArray::number(QCoreApplication::applicationPid()));
    EXPECT_FALSE(app::TovakApp::askRunningInstanceToShow());
    std::string error;
    app::TovakApp first(demo(), error);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_TRUE(first.listenForOtherInstances());
    first.showMainWindow().close();  // closing the window keeps the application and its monitor
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.mainWindow() == nullptr; }, 2000));

    EXPECT_TRUE(app::TovakApp::askRunningInstanceToShow());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return first.mainWindow() != nullptr && first.mainWindow()->isVisible(); }, 3000));
    EXPECT_EQ(first.monitor().statusLine.get(), "Готов");
}

// Only in a folder of the user's alone; another account's socket is never taken for Tovak.
TEST(SingleInstance, OnlyInTheUsersOwnFolderAndNeverAnotherAccountsSocket) {
    const std::tuple<const char*, mode_t, bool, uid_t, bool> rows[] = {
        {"the user's own, 0700", 0700, false, ::geteuid(), true},
        {"one others may enter", 0755, false, ::geteuid(), false},
        {"a link to one", 0700, true, ::geteuid(), false},
        {"another account's (tried as root)", 0700, false, 65534, false}};
    const tovak::testing::TempDir dir;
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    ::unsetenv("TOVAK_INSTANCE_NAME");
    for (const auto& [name, mode, linked, owner, taken] : rows) {
        SCOPED_TRACE(name);
        const std::string runtime = dir / name;
        std::filesystem::create_directory(runtime + "-folder");
        ::chmod((runtime + "-folder").c_str(), mode);
        if (::chown((runtime + "-folder").c_str(), owner, owner) == 0) {
            linked ? std::filesystem::create_directory_symlink(runtime + "-folder", runtime)
                   : std::filesystem::rename(runtime + "-folder", runtime);
            ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            EXPECT_EQ(app::SingleInstance::socketPath().toStdString(),
                      taken ? runtime + "/org.tovak.Tovak" : dir / "cache/tovak/org.tovak.Tovak");
        }
    }
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(app::SingleInstance::socketPath().toStdString(), dir / "cache/tovak/org.tovak.Tovak") << "none at all";
    EXPECT_EQ(std::filesystem::status(dir / "cache/tovak").permissions(), std::filesystem::perms::owner_all);
    cache.isNull() ? ::unsetenv("XDG_CACHE_HOME") : ::setenv("XDG_CACHE_HOME", cache.constData(), 1);
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can listen as another account: nobody's socket (65534) is not tried";
    }

    // Nobody's socket where Tovak looks neither keeps Tovak from starting nor is asked to show a window.
    ::setenv("XDG_RUNTIME_DIR", (dir / "the user's own, 0700").c_str(), 1);
    const std::string path = app::SingleInstance::socketPath().toStdString();
    int ready[2] = {-1, -1};
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t nobody = ::fork();
    if (nobody == 0) {
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool listening = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                               ::chown(path.c_str(), 65534, 65534) == 0 && ::setgid(65534) == 0 &&
                               ::setuid(65534) == 0 && ::listen(fd, 8) == 0;
        ::_exit(listening && ::write(ready[1], "!", 1) == 1 && ::pause() == 0 ? 0 : 1);
    }
    char planted = 0;
    ASSERT_EQ(::read(ready[0], &planted, 1), 1) << "nobody's socket was not made";
    EXPECT_FALSE(app::SingleInstance::askToShow()) << "nobody's socket was taken for Tovak";
    app::SingleInstance instance;
    EXPECT_TRUE(instance.listen([] {})) << "Tovak would not start";
    EXPECT_TRUE(app::SingleInstance::askToShow()) << "Tovak's own socket was not put in its place";
    ::kill(nobody, SIGKILL);
    ::waitpid(nobody, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    ::unsetenv("XDG_RUNTIME_DIR");
}

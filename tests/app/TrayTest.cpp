// The tray under an X server (Xvfb) and a session bus of the test's own: a real XEmbed tray host
// (trayer) started after Tovak, stopped and started again; and closing the window with no tray.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include "app/StatusTray.h"
#include "app/TovakApp.h"
#include "support/ChildProcess.h"

using namespace tovak;

namespace {

app::Options options(std::initializer_list<std::string> extra) {
    std::vector<std::string> args{"--camera", "demo", "--lock", "dry-run"};
    args.insert(args.end(), extra);
    return *app::parseCommandLine(args).options;
}

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 20000);
}

// Qt's icon window is docked when the tray host has taken it in as a child of its own.
bool iconDocked() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() != "QSystemTrayIconSys" || !top->isVisible()) {
            continue;
        }
        xcb_connection_t* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(c, xcb_query_tree(c, static_cast<xcb_window_t>(top->winId())), nullptr);
        const bool docked = tree != nullptr && tree->parent != tree->root;
        std::free(tree);
        return docked;
    }
    return false;
}

struct TrayTest : ::testing::Test {
    pid_t trayer = -1;

    void SetUp() override {
        ASSERT_NE(qGuiApp->nativeInterface<QNativeInterface::QX11Application>(), nullptr) << "needs the xcb platform";
        qputenv("TOVAK_INSTANCE_NAME", QByteArray("tovak-tray-test-") + QByteArray::number(getpid()));
    }
    void TearDown() override { stopTrayer(); }
    bool startTrayer() {
        trayer = tovak::testing::spawnChild({"trayer", "--edge", "top", "--align", "right"},
                                            {.stdoutFd = -1, .display = std::nullopt, .quietStderr = true});
        return trayer > 0;
    }
    void stopTrayer() {
        tovak::testing::stopChild(trayer);
        trayer = -1;
    }
};

}  // namespace

TEST_F(TrayTest, ATrayHostStartedLaterGetsTheIconAndOneThatGoesBringsTheWindowBack) {
    if (std::system("command -v trayer >/dev/null") != 0) {
        GTEST_SKIP() << "trayer (an XEmbed tray host) is not installed";
    }
    const app::Options hidden = options({"--start", "--hidden"});
    std::string error;
    app::TovakApp application(hidden, error);
    ASSERT_TRUE(error.empty()) << error;
    application.open(hidden);
    // No tray yet: the hidden start shows the window, and nothing asked Qt about trays.
    ASSERT_TRUE(application.mainWindow() != nullptr && application.mainWindow()->isVisible());
    EXPECT_EQ(application.tray(), nullptr);

    for (const char* round : {"first start of the tray host", "the host back again"}) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(startTrayer());
        ASSERT_TRUE(waitFor([&] { return application.trayShown() && iconDocked(); }));
        EXPECT_EQ(application.tray()->icon().toolTip().left(8), "Товак — ");

        // With the icon there, closing the window leaves the monitor watching behind it.
        if (application.mainWindow() != nullptr) {
            application.mainWindow()->close();
        }
        ASSERT_TRUE(waitFor([&] { return application.mainWindow() == nullptr; }));
        EXPECT_TRUE(application.monitor().isRunning.get());

        // The host goes: the window comes back, minimised, so the program can still be reached.
        stopTrayer();
        ASSERT_TRUE(waitFor([&] {
            return !application.trayShown() && application.mainWindow() != nullptr &&
                   application.mainWindow()->isVisible() && application.mainWindow()->isMinimized();
        }));
    }
}

TEST_F(TrayTest, WithoutATrayClosingTheWindowMinimisesItWhileWatchingAndQuitsOtherwise) {
    const app::Options plain = options({});
    std::string error;
    app::TovakApp application(plain, error);
    ASSERT_TRUE(error.empty()) << error;
    application.open(plain);
    ASSERT_FALSE(application.trayShown());
    application.monitor().start();
    ASSERT_TRUE(waitFor([&] { return application.monitor().isRunning.get(); }));

    QMainWindow* window = application.mainWindow();
    window->close();
    QTest::qWait(200);
    ASSERT_EQ(application.mainWindow(), window);
    EXPECT_TRUE(window->isVisible() && window->isMinimized());
    EXPECT_TRUE(application.monitor().isRunning.get());

    // Stopped, the program has nothing to watch for: closing its window ends it.
    application.monitor().stop();
    ASSERT_TRUE(waitFor([&] { return !application.monitor().isRunning.get(); }));
    QTimer::singleShot(0, window, [window] { window->close(); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
}

// The tray under an X server (Xvfb) and a session bus of the test's own: a real XEmbed tray host
// (trayer), or a StatusNotifierItem watcher in a process of its own, started after Tovak, stopped and
// started again; and closing the window with no tray. Qt settles once per process whether its icons
// go over D-Bus, so the two kinds of host run in two processes (TraySni.* and the rest).
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "app/StatusTray.h"
#include "app/TovakApp.h"
#include "support/ChildProcess.h"

using namespace tovak;

namespace {

// The application on the demo camera, opened as these arguments ask.
std::unique_ptr<app::TovakApp> openApp(std::initializer_list<std::string> extra) {
    std::vector<std::string> args{"--camera", "demo", "--lock", "dry-run"};
    args.insert(args.end(), extra);
    const app::Options options = *app::parseCommandLine(args).options;
    std::string error;
    auto application = std::make_unique<app::TovakApp>(options, error);
    EXPECT_TRUE(error.empty()) << error;
    application->open(options);
    return application;
}

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 20000);
}

xcb_connection_t* x11() {
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        x11(), xcb_intern_atom(x11(), 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return result;
}

// The first word of a window's property, when it has one.
std::optional<std::uint32_t> word(xcb_window_t window, const char* name) {
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(x11(), xcb_get_property(x11(), 0, window, atom(name), XCB_ATOM_ANY, 0, 1), nullptr);
    std::optional<std::uint32_t> value;
    if (reply != nullptr && xcb_get_property_value_length(reply) >= 4) {
        std::memcpy(&value.emplace(), xcb_get_property_value(reply), 4);
    }
    std::free(reply);
    return value;
}

// Minimised as the window manager holds it (WM_STATE IconicState), not only as Qt asked.
bool iconified(QWidget* window) {
    return window != nullptr && window->isVisible() &&
           word(static_cast<xcb_window_t>(window->winId()), "WM_STATE") == 3u;
}

// Qt's icon window is docked when the tray host has taken it in as a child of its own.
bool iconDocked() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() != "QSystemTrayIconSys" || !top->isVisible()) {
            continue;
        }
        xcb_connection_t* c = x11();
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(c, xcb_query_tree(c, static_cast<xcb_window_t>(top->winId())), nullptr);
        const bool docked = tree != nullptr && tree->parent != tree->root;
        std::free(tree);
        return docked;
    }
    return false;
}

// A property of an object on the session bus, or an invalid value. The answer is waited for with
// events running: the tray icon asked may be this process's own.
QVariant busProperty(const QString& service, const QString& path, const QString& interface, const QString& name) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
    call << interface << name;
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(call, 5000);
    (void)QTest::qWaitFor([&] { return pending.isFinished(); }, 6000);
    const QDBusMessage reply = pending.reply();
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().front().value<QDBusVariant>().variant()
                                                      : QVariant();
}

// The title of a StatusNotifierItem's tooltip: (icon name, pixmaps, title, text).
QString toolTipTitle(const QString& item) {
    const QVariant value = busProperty(item, QStringLiteral("/StatusNotifierItem"),
                                       QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("ToolTip"));
    if (!value.canConvert<QDBusArgument>()) {
        return {};
    }
    const auto argument = value.value<QDBusArgument>();
    QString iconName, title, text;
    argument.beginStructure();
    argument >> iconName;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0, height = 0;
        QByteArray pixels;
        argument.beginStructure();
        argument >> width >> height >> pixels;
        argument.endStructure();
    }
    argument.endArray();
    argument >> title >> text;
    argument.endStructure();
    return title;
}

// Under openbox, whose WM_STATE says whether a window is minimised.
struct TrayTest : ::testing::Test {
    pid_t trayer = -1;
    pid_t openbox = -1;

    void SetUp() override {
        ASSERT_NE(qGuiApp->nativeInterface<QNativeInterface::QX11Application>(), nullptr) << "needs the xcb platform";
        if (std::system("command -v openbox >/dev/null") != 0) {
            GTEST_SKIP() << "openbox (the window manager that minimises) is not installed";
        }
        qputenv("TOVAK_INSTANCE_NAME", QByteArray("tovak-tray-test-") + QByteArray::number(getpid()));
        openbox = tovak::testing::spawnChild({"openbox", "--sm-disable"},
                                             {.stdoutFd = -1, .display = std::nullopt, .quietStderr = true});
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x11())).data->root;
        ASSERT_TRUE(waitFor([&] { return word(root, "_NET_SUPPORTING_WM_CHECK").has_value(); }));
    }
    void TearDown() override {
        stopTrayer();
        tovak::testing::stopChild(openbox);
    }
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
    const auto opened = openApp({"--start", "--hidden"});
    app::TovakApp& application = *opened;
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
        ASSERT_TRUE(waitFor([&] { return !application.trayShown() && iconified(application.mainWindow()); }));
    }
}

TEST_F(TrayTest, WithoutATrayClosingTheWindowMinimisesItWhileWatchingAndQuitsOtherwise) {
    const auto opened = openApp({});
    app::TovakApp& application = *opened;
    ASSERT_FALSE(application.trayShown());
    application.monitor().start();
    ASSERT_TRUE(waitFor([&] { return application.monitor().isRunning.get(); }));

    QMainWindow* window = application.mainWindow();
    ASSERT_TRUE(waitFor([&] { return word(static_cast<xcb_window_t>(window->winId()), "WM_STATE") == 1u; }));
    window->close();
    EXPECT_TRUE(waitFor([&] { return iconified(window); }));
    ASSERT_EQ(application.mainWindow(), window);
    EXPECT_TRUE(application.monitor().isRunning.get());

    // Stopped, the program has nothing to watch for: closing its window ends it.
    application.monitor().stop();
    ASSERT_TRUE(waitFor([&] { return !application.monitor().isRunning.get(); }));
    QTimer::singleShot(0, window, [window] { window->close(); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
}

// A StatusNotifierItem watcher (a panel's tray) started after Tovak gets its icon, with the status line
// as its tooltip; one that goes and comes back gets it again.
TEST_F(TrayTest, TraySni_AWatcherStartedLaterGetsTheIconAndOneThatComesBackGetsItAgain) {
    const auto opened = openApp({"--start", "--hidden"});
    app::TovakApp& application = *opened;
    ASSERT_TRUE(application.mainWindow() != nullptr && application.mainWindow()->isVisible());
    EXPECT_EQ(application.tray(), nullptr);

    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    const auto registered = [&] {
        return busProperty(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher,
                           QStringLiteral("RegisteredStatusNotifierItems"))
            .toStringList();
    };
    for (const char* round : {"first start of the watcher", "the watcher back again"}) {
        SCOPED_TRACE(round);
        const pid_t host = tovak::testing::spawnChild({TOVAK_TEST_SNI_WATCHER});
        ASSERT_GT(host, 0);
        ASSERT_TRUE(waitFor([&] { return application.trayShown() && registered().size() == 1; }));
        EXPECT_TRUE(waitFor([&] { return toolTipTitle(registered().front()).startsWith("Товак — "); }))
            << toolTipTitle(registered().front()).toStdString();

        if (application.mainWindow() != nullptr) {
            application.mainWindow()->close();
        }
        ASSERT_TRUE(waitFor([&] { return application.mainWindow() == nullptr; }));

        tovak::testing::stopChild(host);
        ASSERT_TRUE(waitFor([&] { return !application.trayShown() && iconified(application.mainWindow()); }));
    }
}

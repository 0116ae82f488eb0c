// Starting at login: the XDG autostart entry behind the tray menu, and a start with --start --hidden.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QMainWindow>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include "app/Autostart.h"
#include "app/TovakApp.h"

using namespace tovak;

TEST(Autostart, TheMenuEntryWritesAndRemovesTheLoginEntryAndFollowsTheFile) {
    QTemporaryDir config;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QFile file(config.path() + "/autostart/org.tovak.Tovak.desktop");
    QMenu menu;
    int failures = 0;
    QAction* entry = app::Autostart("/opt/Мои программы/tovak").addMenuEntry(menu, [&] { ++failures; });
    EXPECT_EQ(entry->text(), "Запускать при входе");
    EXPECT_TRUE(entry->isCheckable() && !entry->isChecked());

    entry->trigger();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    EXPECT_TRUE(text.contains("\nExec=\"/opt/Мои программы/tovak\" --start --hidden\n")) << text.toStdString();
    EXPECT_TRUE(entry->isChecked());
    entry->trigger();
    EXPECT_FALSE(file.exists() || entry->isChecked());

    // The mark shows what is on disk when the menu opens, whoever changed it.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    Q_EMIT menu.aboutToShow();
    EXPECT_TRUE(entry->isChecked());

    // A folder that cannot be made is reported, and the mark stays off.
    ASSERT_TRUE(QDir(config.path() + "/autostart").removeRecursively() &&
                QFile(config.path() + "/autostart").open(QIODevice::WriteOnly));
    Q_EMIT menu.aboutToShow();
    entry->trigger();
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(entry->isChecked());
    qputenv("XDG_CONFIG_HOME", previous);
    EXPECT_EQ(app::Autostart::execProgram("/usr/bin/tovak"), "/usr/bin/tovak");
    EXPECT_EQ(app::Autostart::execProgram(R"(/opt/a$b\c%d/tovak)"), R"("/opt/a\\$b\\\\c%%d/tovak")");
}

TEST(Autostart, AHiddenStartWithoutATrayStillShowsTheWindowAndStartsMonitoring) {
    EXPECT_NE(app::usageText().find("\n  --start "), std::string::npos);
    EXPECT_NE(app::usageText().find("\n  --hidden "), std::string::npos);
    const app::Options options =
        *app::parseCommandLine({"--camera", "demo", "--lock", "dry-run", "--start", "--hidden"}).options;
    std::string error;
    app::TovakApp application(options, error);
    ASSERT_TRUE(error.empty()) << error;
    application.open(options);
    // The offscreen platform has no tray.
    ASSERT_TRUE(application.mainWindow() != nullptr && application.mainWindow()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return application.monitor().statusLine.get() != "Готов"; }, 10000));
}

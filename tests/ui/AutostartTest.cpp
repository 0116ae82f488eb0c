// Starting at login: the XDG autostart entry behind the tray menu, and a start with --start --hidden.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
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
    const QString file = config.path() + "/autostart/org.tovak.Tovak.desktop";
    QMenu menu;
    int failures = 0;
    QAction* entry = app::Autostart("/usr/bin/tovak").addMenuEntry(menu, [&] { ++failures; });
    EXPECT_EQ(entry->text(), "Запускать при входе");
    EXPECT_TRUE(entry->isCheckable());
    EXPECT_FALSE(entry->isChecked());

    entry->trigger();
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(written.readAll());
    written.close();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\nType=Application\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nExec=/usr/bin/tovak --start --hidden\n")) << text.toStdString();
    EXPECT_TRUE(entry->isChecked());
    entry->trigger();
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_FALSE(entry->isChecked());

    // The mark shows what is on disk when the menu opens, whoever changed it.
    ASSERT_TRUE(written.open(QIODevice::WriteOnly));
    written.close();
    Q_EMIT menu.aboutToShow();
    EXPECT_TRUE(entry->isChecked());
    ASSERT_TRUE(QFile::remove(file));
    Q_EMIT menu.aboutToShow();
    EXPECT_FALSE(entry->isChecked());

    // A folder that cannot be made is reported, and the mark stays off.
    QFile blocker(config.path() + "/autostart");
    ASSERT_TRUE(QDir(config.path() + "/autostart").removeRecursively() && blocker.open(QIODevice::WriteOnly));
    entry->trigger();
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(entry->isChecked());
    qputenv("XDG_CONFIG_HOME", previous);
}

TEST(Autostart, TheProgramIsQuotedAndEscapedForTheExecKey) {
    struct Row {
        const char* name;
        const char* program;
        const char* exec;
    };
    const Row rows[] = {
        {"plain path as it is", "/usr/bin/tovak", "/usr/bin/tovak"},
        {"a space is quoted", "/opt/Мои программы/tovak", R"("/opt/Мои программы/tovak")"},
        {"$ and \\ escaped, % doubled", R"(/opt/a$b\c%d/tovak)", R"("/opt/a\\$b\\\\c%%d/tovak")"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(app::Autostart::execProgram(QString::fromUtf8(row.program)).toStdString(), row.exec);
    }
}

TEST(Autostart, AHiddenStartWithoutATrayStillShowsTheWindowAndStartsMonitoring) {
    app::Options options;
    options.camera = "demo";
    options.lockDryRun = true;
    options.hidden = true;
    options.startMonitoring = true;
    std::string error;
    app::TovakApp application(options, error);
    ASSERT_TRUE(error.empty()) << error;
    application.open(options);
    ASSERT_NE(application.mainWindow(), nullptr);  // the offscreen platform has no tray
    EXPECT_TRUE(application.mainWindow()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return application.monitor().statusLine.get() != "Готов"; }, 10000));
}

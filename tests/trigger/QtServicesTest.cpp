#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QObject>
#include <QUrl>

#include "platform/qt/QtFileChooser.h"
#include "platform/qt/QtWorkspace.h"
#include "support/TempDir.h"

namespace tovak::platform {
namespace {

// Takes the place of the desktop's file opener and remembers what it was asked to open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

TEST(Workspace, OpensTheFileItselfWhateverItsNameAndRefusesWhatNoApplicationCouldOpen) {
    testing::TempDir folder("tovak-workspace");
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    const std::string document = folder.write("Бюджет #3 100% \"итог\"?.csv", "x");
    QtWorkspace workspace;
    EXPECT_FALSE(workspace.open(folder / "missing.csv"));
    EXPECT_FALSE(workspace.open(folder.path().string()));
    EXPECT_FALSE(workspace.open(""));
    EXPECT_TRUE(catcher.urls.isEmpty());
    EXPECT_TRUE(workspace.open(document));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_TRUE(catcher.urls.front().isLocalFile());
    EXPECT_EQ(catcher.urls.front().toLocalFile().toStdString(), document);
}

TEST(FileChooser, NonModalSingleSpreadsheetChoiceAnsweredOnceWithThePathOrOnCancelWithNothing) {
    testing::TempDir folder("tovak-chooser");
    const std::string document = folder.write("Отчёт за квартал.xlsx", "x");
    for (const bool accept : {true, false}) {
        SCOPED_TRACE(accept ? "accept" : "cancel");
        QtFileChooser chooser;
        int calls = 0;
        std::optional<std::string> answer;
        chooser.chooseTriggerFile([&](std::optional<std::string> path) {
            ++calls;
            answer = std::move(path);
        });
        QFileDialog* dialog = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* found = qobject_cast<QFileDialog*>(widget);
            if (found != nullptr && found->objectName() == QtFileChooser::dialogObjectName && found->isVisible()) {
                dialog = found;
            }
        }
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(calls, 0) << "the chooser returns before the user answers";
        EXPECT_FALSE(dialog->isModal());
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        const QString filter = dialog->nameFilters().join(' ');
        for (const char* pattern : {"*.csv", "*.xlsx", "*.xls", "*.ods", "*.numbers"}) {
            EXPECT_TRUE(filter.contains(QLatin1String(pattern))) << pattern;
        }
        if (accept) {
            dialog->setDirectory(QString::fromStdString(folder.path().string()));
            dialog->selectFile(QString::fromStdString(document));
            static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, which checks the chosen file
        } else {
            dialog->reject();
        }
        QApplication::processEvents();
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(answer, accept ? std::optional(document) : std::nullopt);
    }
}

}  // namespace
}  // namespace tovak::platform

#include "QtServicesTest.moc"

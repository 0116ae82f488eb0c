#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QObject>
#include <QUrl>

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

}  // namespace
}  // namespace tovak::platform

#include "QtWorkspaceTest.moc"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "platform/qt/QtWorkspace.h"

namespace tovak::platform {
namespace {

namespace fs = std::filesystem;

// Takes the place of the desktop's file opener and remembers what it was asked to open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

class Workspace : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tovak-workspace-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher_, "open");
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        fs::remove_all(folder_);
    }
    UrlCatcher catcher_;
    fs::path folder_;
};

TEST_F(Workspace, OpensTheFileItselfWhateverItsName) {
    const fs::path document = folder_ / "Бюджет #3 100% \"итог\"?.csv";
    std::ofstream(document) << "x";
    QtWorkspace workspace;
    EXPECT_TRUE(workspace.open(document.string()));
    ASSERT_EQ(catcher_.urls.size(), 1);
    EXPECT_TRUE(catcher_.urls.front().isLocalFile());
    EXPECT_EQ(catcher_.urls.front().toLocalFile().toStdString(), document.string());
}

TEST_F(Workspace, RefusesWhatNoApplicationCouldOpen) {
    QtWorkspace workspace;
    EXPECT_FALSE(workspace.open((folder_ / "missing.csv").string()));
    EXPECT_FALSE(workspace.open(folder_.string()));
    EXPECT_FALSE(workspace.open(""));
    EXPECT_TRUE(catcher_.urls.isEmpty());
}

}  // namespace
}  // namespace tovak::platform

#include "QtWorkspaceTest.moc"

#include "trigger/qt/QtWorkspace.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <utility>

namespace tovak::trigger {

namespace {

// The absolute path of a document an application could open, empty for any other path.
QString openablePath(const std::string& path) {
    const QString localPath = QFile::decodeName(QByteArray::fromStdString(path));
    const QFileInfo info(localPath);
    if (localPath.isEmpty() || !info.isFile() || !info.isReadable()) {
        return {};
    }
    return info.absoluteFilePath();
}

}  // namespace

bool QtWorkspace::open(const std::string& path) {
    const QString document = openablePath(path);
    return !document.isEmpty() && QDesktopServices::openUrl(QUrl::fromLocalFile(document));
}

void QtWorkspace::openThen(const std::string& path, Outcome outcome) {
    const QString document = openablePath(path);
    QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    QStringList arguments{document};
    if (program.isEmpty()) {
        program = QStandardPaths::findExecutable(QStringLiteral("gio"));
        arguments.prepend(QStringLiteral("open"));
    }
    if (document.isEmpty() || program.isEmpty()) {
        outcome(false);
        return;
    }
    // Owned by the application, so that an opener outliving this workspace is still reaped; what
    // it and the application it starts print goes where Tovak's own output goes.
    auto* opener = new QProcess(QCoreApplication::instance());
    opener->setProgram(program);
    opener->setArguments(arguments);
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->setStandardInputFile(QProcess::nullDevice());
    auto* patience = new QTimer(opener);
    patience->setSingleShot(true);
    auto answer = std::make_shared<Outcome>(std::move(outcome));
    const auto tell = [answer](bool opened) {
        if (*answer) {
            std::exchange(*answer, nullptr)(opened);
        }
    };
    QObject::connect(patience, &QTimer::timeout, opener, [tell] { tell(true); });
    QObject::connect(opener, &QProcess::finished, opener, [opener, tell](int status, QProcess::ExitStatus how) {
        tell(how == QProcess::NormalExit && status == 0);
        opener->deleteLater();
    });
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, tell](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            tell(false);
            opener->deleteLater();
        }
    });
    opener->start();
    patience->start(answerMilliseconds);
}

}  // namespace tovak::trigger

#include "trigger/qt/QtWorkspace.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace tovak::trigger {

bool QtWorkspace::open(const std::string& path) {
    const QString localPath = QFile::decodeName(QByteArray::fromStdString(path));
    const QFileInfo info(localPath);
    if (localPath.isEmpty() || !info.isFile() || !info.isReadable()) {
        return false;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
}

}  // namespace tovak::trigger

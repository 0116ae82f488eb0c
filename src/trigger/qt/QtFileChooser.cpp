#include "trigger/qt/QtFileChooser.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <memory>

namespace tovak::trigger {

QString QtFileChooser::startFolder(const std::optional<std::string>& currentFile) {
    if (currentFile) {
        const QDir folder = QFileInfo(QFile::decodeName(currentFile->c_str())).absoluteDir();
        if (folder.exists()) {
            return folder.absolutePath();
        }
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath();
}

void QtFileChooser::chooseTriggerFile(std::function<void(std::optional<std::string> path)> completion) {
    auto* dialog = new QFileDialog(parent_.data());
    dialog->setObjectName(dialogObjectName);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::NonModal);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setOption(QFileDialog::ShowDirsOnly, false);
    dialog->setNameFilter(QStringLiteral("CSV и таблицы (*.csv *.xlsx *.xls *.ods *.numbers)"));
    dialog->setDirectory(startFolder(currentFile_ ? currentFile_() : std::nullopt));
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, completion = std::move(completion)](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result != QDialog::Accepted || files.isEmpty() || files.front().isEmpty()) {
            completion(std::nullopt);
            return;
        }
        completion(QFile::encodeName(files.front()).toStdString());
    });
    dialog->show();
}

}  // namespace tovak::trigger

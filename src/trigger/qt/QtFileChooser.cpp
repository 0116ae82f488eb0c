#include "trigger/qt/QtFileChooser.h"

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <memory>

namespace tovak::trigger {

void QtFileChooser::chooseTriggerFile(std::function<void(std::optional<std::string> path)> completion) {
    auto* dialog = new QFileDialog(parent_.data());
    dialog->setObjectName(dialogObjectName);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::NonModal);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setOption(QFileDialog::ShowDirsOnly, false);
    dialog->setNameFilter(QStringLiteral("CSV и таблицы (*.csv *.xlsx *.xls *.ods *.numbers)"));
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

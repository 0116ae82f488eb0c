#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <filesystem>
#include <fstream>

#include "platform/qt/QtFileChooser.h"

namespace tovak::platform {
namespace {

namespace fs = std::filesystem;

QFileDialog* openDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(widget);
            dialog != nullptr && dialog->objectName() == QtFileChooser::dialogObjectName && dialog->isVisible()) {
            return dialog;
        }
    }
    return nullptr;
}

struct Answers {
    int calls = 0;
    std::optional<std::string> last;
};

TEST(FileChooser, ShowsANonModalSingleFileDialogForSpreadsheets) {
    QtFileChooser chooser;
    Answers answers;
    chooser.chooseTriggerFile([&answers](std::optional<std::string> path) {
        ++answers.calls;
        answers.last = std::move(path);
    });
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    const QString filter = dialog->nameFilters().join(' ');
    for (const char* pattern : {"*.csv", "*.xlsx", "*.xls", "*.ods", "*.numbers"}) {
        EXPECT_TRUE(filter.contains(QLatin1String(pattern))) << pattern;
    }
    EXPECT_EQ(answers.calls, 0) << "the chooser returns before the user answers";
    dialog->reject();
    QApplication::processEvents();
}

TEST(FileChooser, AnswersOnceWithTheChosenFile) {
    const fs::path folder = fs::temp_directory_path() / ("tovak-chooser-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path document = folder / "Отчёт за квартал.xlsx";
    std::ofstream(document) << "x";

    QtFileChooser chooser;
    Answers answers;
    chooser.chooseTriggerFile([&answers](std::optional<std::string> path) {
        ++answers.calls;
        answers.last = std::move(path);
    });
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(QString::fromStdString(folder.string()));
    dialog->selectFile(QString::fromStdString(document.string()));
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, which checks the chosen file
    QApplication::processEvents();
    EXPECT_EQ(answers.calls, 1);
    EXPECT_EQ(answers.last, document.string());
    fs::remove_all(folder);
}

TEST(FileChooser, CancelAnswersOnceWithNothing) {
    QtFileChooser chooser;
    Answers answers;
    chooser.chooseTriggerFile([&answers](std::optional<std::string> path) {
        ++answers.calls;
        answers.last = std::move(path);
    });
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->reject();
    QApplication::processEvents();
    EXPECT_EQ(answers.calls, 1);
    EXPECT_FALSE(answers.last.has_value());
}

}  // namespace
}  // namespace tovak::platform

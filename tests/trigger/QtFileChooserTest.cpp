#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>

#include "platform/qt/QtFileChooser.h"
#include "support/TempDir.h"

namespace tovak::platform {
namespace {

// Opens the chooser and counts its answers.
struct Chooser {
    QtFileChooser chooser;
    int calls = 0;
    std::optional<std::string> answer;

    QFileDialog* open() {
        chooser.chooseTriggerFile([this](std::optional<std::string> path) {
            ++calls;
            answer = std::move(path);
        });
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            if (dialog != nullptr && dialog->objectName() == QtFileChooser::dialogObjectName && dialog->isVisible()) {
                return dialog;
            }
        }
        return nullptr;
    }
};

TEST(FileChooser, NonModalSingleSpreadsheetChoiceAnsweredOnceWithThePath) {
    testing::TempDir folder("tovak-chooser");
    const std::string document = folder.write("Отчёт за квартал.xlsx", "x");

    Chooser c;
    QFileDialog* dialog = c.open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(c.calls, 0) << "the chooser returns before the user answers";
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    const QString filter = dialog->nameFilters().join(' ');
    for (const char* pattern : {"*.csv", "*.xlsx", "*.xls", "*.ods", "*.numbers"}) {
        EXPECT_TRUE(filter.contains(QLatin1String(pattern))) << pattern;
    }
    dialog->setDirectory(QString::fromStdString(folder.path().string()));
    dialog->selectFile(QString::fromStdString(document));
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, which checks the chosen file
    QApplication::processEvents();
    EXPECT_EQ(c.calls, 1);
    EXPECT_EQ(c.answer, document);
}

TEST(FileChooser, CancelAnswersOnceWithNothing) {
    Chooser c;
    QFileDialog* dialog = c.open();
    ASSERT_NE(dialog, nullptr);
    dialog->reject();
    QApplication::processEvents();
    EXPECT_EQ(c.calls, 1);
    EXPECT_FALSE(c.answer.has_value());
}

}  // namespace
}  // namespace tovak::platform

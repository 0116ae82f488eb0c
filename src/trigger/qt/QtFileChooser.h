#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "monitor/ports/Services.h"

namespace tovak::trigger {

// A non-modal file dialog for one existing file of CSV or spreadsheet type, opening in the folder of
// the current file, else in the user's documents. Main thread.
class QtFileChooser final : public monitor::FileChooser {
  public:
    static constexpr const char* dialogObjectName = "triggerFileDialog";
    using CurrentFile = std::function<std::optional<std::string>()>;

    explicit QtFileChooser(QWidget* parent = nullptr, CurrentFile currentFile = {})
        : parent_(parent), currentFile_(std::move(currentFile)) {}
    void chooseTriggerFile(std::function<void(std::optional<std::string> path)> completion) override;

    // The folder the dialog opens in: the current file's while it exists, else the documents
    // folder, else the home folder.
    [[nodiscard]] static QString startFolder(const std::optional<std::string>& currentFile);

  private:
    QPointer<QWidget> parent_;
    CurrentFile currentFile_;
};

}  // namespace tovak::trigger

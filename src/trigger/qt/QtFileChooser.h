#pragma once

#include <QPointer>
#include <QWidget>

#include "monitor/ports/Services.h"

namespace tovak::trigger {

// A non-modal file dialog for one existing file of CSV or spreadsheet type. Main thread.
class QtFileChooser final : public monitor::FileChooser {
  public:
    static constexpr const char* dialogObjectName = "triggerFileDialog";

    explicit QtFileChooser(QWidget* parent = nullptr) : parent_(parent) {}
    void chooseTriggerFile(std::function<void(std::optional<std::string> path)> completion) override;

  private:
    QPointer<QWidget> parent_;
};

}  // namespace tovak::trigger

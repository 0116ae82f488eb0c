#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include "journal/Journal.h"

namespace tovak::app {

class JournalController;

// "Журнал": today's incidents, newest first, the two settings that keep it and "Очистить журнал".
// Follows the journal while it is open. GUI thread.
class JournalWindow final : public QWidget {
    Q_OBJECT

  public:
    explicit JournalWindow(JournalController& controller, QWidget* parent = nullptr);
    ~JournalWindow() override;

    // Shows the journal and the settings as they are now.
    void rebuild();

  private:
    void scheduleRebuild();

    JournalController& controller_;
    journal::Journal::Token token_ = 0;
    bool rebuildQueued_ = false;
    QVBoxLayout* list_ = nullptr;
    QLabel* empty_ = nullptr;
    QCheckBox* keepJournal_ = nullptr;
    QCheckBox* keepPictures_ = nullptr;
    QLabel* where_ = nullptr;
};

}  // namespace tovak::app

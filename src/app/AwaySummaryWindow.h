#pragma once

#include <QVBoxLayout>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "journal/Journal.h"

namespace tovak::app {

class JournalController;

// "Пока вас не было": each visit of the away period that just ended, with the visitor's picture,
// when it was, how long, and whether the screen was locked. Follows the journal (a lock's late
// answer, a cleared journal) while it is open. GUI thread.
class AwaySummaryWindow final : public QWidget {
    Q_OBJECT

  public:
    AwaySummaryWindow(JournalController& controller, std::vector<std::uint64_t> visits, QWidget* parent = nullptr);
    ~AwaySummaryWindow() override;

    // The visits of a later away period, below these.
    void addVisits(const std::vector<std::uint64_t>& visits);
    void rebuild();

  private:
    void scheduleRebuild();

    JournalController& controller_;
    std::vector<std::uint64_t> visits_;
    journal::Journal::Token token_ = 0;
    bool rebuildQueued_ = false;
    QVBoxLayout* list_ = nullptr;
};

}  // namespace tovak::app

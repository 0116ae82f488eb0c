#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/AdminLocks.h"
#include "app/AwayEscMonitor.h"
#include "app/CameraPreviewView.h"
#include "app/ElidedLabel.h"
#include "monitor/PrivacyMonitor.h"

namespace tovak::app {

// The main window's panel: product name and status line, the live preview, the trigger file with
// its buttons, and away mode, the pause, start and stop. It shows the monitor's published state and passes
// every press to one monitor operation; it keeps no state of its own.
class ContentView final : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* awayHint =
        "Без лица в кадре 10 с — режим включается сам. Одно лицо — крупный план ~1 с и блокировка. Два лица — "
        "файл и PiP.";
    static constexpr int summaryMaxWidth = 200;
    // The least the panel takes, whatever its rows need less.
    static constexpr QSize leastSize{320, 400};

    // onShown runs each time the panel comes on screen.
    ContentView(monitor::PrivacyMonitor& monitor, std::function<void()> onShown, QWidget* parent = nullptr);
    ~ContentView() override;

    // The camera's choice beside the status line; without it (the demo, a file) no button shows.
    void setCameraMenu(QMenu* menu);
    // Greys out what the administrator decided: the lock on leave and pauses longer than allowed.
    void setAdminLocks(AdminLocks locks);
    // Reads every published value the panel shows and updates the controls.
    void rebuild();

    [[nodiscard]] AwayEscMonitor& escapeMonitor() { return *escMonitor_; }
    [[nodiscard]] QSize minimumSizeHint() const override;

  Q_SIGNALS:
    // The user asked for the journal.
    void journalRequested();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QHBoxLayout* makeHeader();
    QHBoxLayout* makeTriggerRow();
    QHBoxLayout* makeControls();
    QHBoxLayout* makeLockOnLeaveRow();
    void showLockOnLeave(std::optional<double> seconds);
    void lockOnLeaveChosen();
    void observeMonitor();
    void scheduleRebuild();
    void showAwayMode(bool away);
    void showRunning(bool running, bool paused);

    monitor::PrivacyMonitor& monitor_;
    std::function<void()> onShown_;
    ElidedLabel* status_ = nullptr;
    QLabel* desktopNotice_ = nullptr;
    QToolButton* cameraButton_ = nullptr;
    ElidedLabel* summary_ = nullptr;
    QPushButton* awayButton_ = nullptr;
    // The away mode the button's label offers to leave: what a press acts on, whatever the monitor
    // publishes before the label follows.
    bool awayShown_ = false;
    QPushButton* pauseButton_ = nullptr;
    QMenu* pauseMenu_ = nullptr;
    AdminLocks locks_;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QCheckBox* lockOnLeave_ = nullptr;
    QComboBox* leaveDelay_ = nullptr;
    CameraPreviewView* preview_ = nullptr;
    AwayEscMonitor* escMonitor_ = nullptr;
    bool rebuildQueued_ = false;
    std::vector<std::function<void()>> unobserve_;
};

}  // namespace tovak::app

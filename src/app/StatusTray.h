#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <vector>

#include "app/AdminLocks.h"
#include "monitor/PrivacyMonitor.h"

namespace tovak::app {

// The tray icon: its picture says whether Tovak watches, is paused or stopped, its tooltip is the
// status line, and its menu starts, stops, pauses and switches away mode. A left click toggles the
// window. The entries of the application itself (the window, autostart, quitting) are added by its
// owner below the monitor's.
class StatusTray final : public QObject {
    Q_OBJECT

  public:
    enum class State { stopped, watching, paused };

    StatusTray(monitor::PrivacyMonitor& monitor, std::function<void()> toggleWindow, QObject* parent = nullptr);
    ~StatusTray() override;

    [[nodiscard]] QSystemTrayIcon& icon() { return *icon_; }
    [[nodiscard]] QMenu& menu() { return *menu_; }
    [[nodiscard]] State state() const { return state_; }

    // Greys out what the administrator decided: the lock on leave and pauses longer than allowed.
    void setAdminLocks(AdminLocks locks);
    // Reads the monitor's published values and updates the picture, tooltip and menu.
    void rebuild();

  private:
    void showLockOnLeave(std::optional<double> seconds);

    monitor::PrivacyMonitor& monitor_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* icon_ = nullptr;
    QAction* startStop_ = nullptr;
    QAction* away_ = nullptr;
    QAction* pauseShort_ = nullptr;
    QAction* pauseLong_ = nullptr;
    QAction* resume_ = nullptr;
    // "Блокировать, когда я ухожу": "Нет" and the delays, one ticked.
    QMenu* lockOnLeave_ = nullptr;
    // What it shows, so that it is made again only when that changes, never under the user's pointer.
    std::optional<std::optional<double>> lockOnLeaveShown_;
    State state_ = State::stopped;
    AdminLocks locks_;
    bool awayShown_ = false;
    bool rebuildQueued_ = false;
    std::vector<std::function<void()>> unobserve_;
};

}  // namespace tovak::app

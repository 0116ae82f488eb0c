#include "app/StatusTray.h"

#include <QActionGroup>

#include "app/Icons.h"
#include "app/LeaveDelays.h"
#include "app/Pauses.h"

namespace tovak::app {

StatusTray::StatusTray(monitor::PrivacyMonitor& monitor, std::function<void()> toggleWindow, QObject* parent)
    : QObject(parent), monitor_(monitor), menu_(std::make_unique<QMenu>()) {
    icon_ = new QSystemTrayIcon(this);
    startStop_ = menu_->addAction(QString(), this, [this] {
        if (monitor_.isRunning.get()) {
            monitor_.stop();
        } else {
            monitor_.start();
        }
    });
    // The entry's text names the operation, whatever the monitor publishes before the text follows.
    away_ = menu_->addAction(QString(), this, [this] { monitor_.setAwayMode(!awayShown_); });
    pauseShort_ =
        menu_->addAction(QStringLiteral("Пауза на 15 минут"), this, [this] { monitor_.pauseFor(kShortPauseSeconds); });
    pauseLong_ =
        menu_->addAction(QStringLiteral("Пауза на час"), this, [this] { monitor_.pauseFor(kLongPauseSeconds); });
    resume_ = menu_->addAction(QStringLiteral("Продолжить"), this, [this] { monitor_.resume(); });
    lockOnLeave_ = menu_->addMenu(QString::fromUtf8(kLockOnLeaveText));
    lockOnLeave_->setObjectName("trayLockOnLeave");
    menu_->addSeparator();
    startStop_->setObjectName("trayStartStop");
    away_->setObjectName("trayAway");
    pauseShort_->setObjectName("trayPauseShort");
    pauseLong_->setObjectName("trayPauseLong");
    resume_->setObjectName("trayResume");
    icon_->setContextMenu(menu_.get());
    connect(icon_, &QSystemTrayIcon::activated, this,
            [toggleWindow = std::move(toggleWindow)](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    toggleWindow();
                }
            });

    // Observers hear of a change before it is made: rebuild a turn later, once per burst.
    auto later = [this](const auto&) {
        if (!rebuildQueued_) {
            rebuildQueued_ = true;
            QMetaObject::invokeMethod(this, &StatusTray::rebuild, Qt::QueuedConnection);
        }
    };
    const auto watch = [&](auto& published) {
        const auto token = published.observe(later);
        unobserve_.emplace_back([&published, token] { published.removeObserver(token); });
    };
    watch(monitor_.statusLine);
    watch(monitor_.desktopNotice);
    watch(monitor_.isRunning);
    watch(monitor_.awayMode);
    watch(monitor_.pausedUntil);
    watch(monitor_.lockOnLeaveSeconds);
    rebuild();
}

StatusTray::~StatusTray() {
    for (auto& remove : unobserve_) {
        remove();
    }
}

void StatusTray::rebuild() {
    rebuildQueued_ = false;
    const bool running = monitor_.isRunning.get();
    const bool paused = running && monitor_.pausedUntil.get().has_value();
    const State state = !running ? State::stopped : paused ? State::paused : State::watching;
    if (state != state_ || icon_->icon().isNull()) {
        state_ = state;
        icon_->setIcon(app::icon(state == State::watching ? IconName::trayWatching
                                 : state == State::paused ? IconName::trayPaused
                                                          : IconName::trayStopped));
    }
    const QString notice = QString::fromStdString(monitor_.desktopNotice.get());
    icon_->setToolTip(QStringLiteral("Товак — ") + QString::fromStdString(monitor_.statusLine.get()) +
                      (notice.isEmpty() ? QString() : QStringLiteral("\n") + notice));

    startStop_->setText(running ? QStringLiteral("Стоп") : QStringLiteral("Старт"));
    awayShown_ = monitor_.awayMode.get();
    away_->setText(awayShown_ ? QStringLiteral("На месте") : QStringLiteral("Отошёл"));
    // A pause needs a camera to switch off; a second one moves the end of the first.
    pauseShort_->setEnabled(running && locks_.pauseAllowed(kShortPauseSeconds));
    pauseLong_->setEnabled(running && locks_.pauseAllowed(kLongPauseSeconds));
    resume_->setVisible(paused);
    showLockOnLeave(monitor_.lockOnLeaveSeconds.get());
}

void StatusTray::setAdminLocks(AdminLocks locks) {
    locks_ = std::move(locks);
    menu_->setToolTipsVisible(true);
    for (auto [action, seconds] :
         {std::pair{pauseShort_, kShortPauseSeconds}, std::pair{pauseLong_, kLongPauseSeconds}}) {
        if (!locks_.pauseAllowed(seconds)) {
            showSetByAdministrator(action);
        }
    }
    if (locks_.locked(monitor::PrivacyMonitor::lockOnLeaveKey)) {
        showSetByAdministrator(lockOnLeave_->menuAction());
    }
    rebuild();
}

void StatusTray::showLockOnLeave(std::optional<double> seconds) {
    if (lockOnLeaveShown_ && *lockOnLeaveShown_ == seconds) {
        return;
    }
    lockOnLeaveShown_ = seconds;
    qDeleteAll(lockOnLeave_->findChildren<QActionGroup*>());
    lockOnLeave_->clear();
    auto* group = new QActionGroup(lockOnLeave_);
    const auto add = [&](const QString& text, std::optional<double> delay) {
        QAction* action = lockOnLeave_->addAction(text, this, [this, delay] { monitor_.setLockOnLeave(delay); });
        action->setCheckable(true);
        action->setChecked(delay == seconds);
        group->addAction(action);
    };
    add(QStringLiteral("Нет"), std::nullopt);
    for (const auto& [delay, text] : leaveDelays(seconds)) {
        add(text.left(1).toUpper() + text.mid(1), delay);
    }
}

}  // namespace tovak::app

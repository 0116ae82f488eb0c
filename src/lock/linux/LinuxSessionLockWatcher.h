#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <functional>

#include "lock/SessionLockState.h"
#include "lock/linux/LinuxLockChain.h"
#include "monitor/ports/SessionLockWatcher.h"

namespace tovak::lock {

// What the lock settings of the locker behind a screensaver's D-Bus name say, read where that
// locker keeps them: GSettings for GNOME, Cinnamon and MATE, xfconf on sessionBus for Xfce. None for
// the freedesktop name, and wherever they cannot be read or hold a value the locker cannot act on.
[[nodiscard]] std::optional<LockerPolicy> linuxLockerPolicy(const QString& service, const QDBusConnection& sessionBus,
                                                            int timeoutMs);

// The lock state from the services the lock chain talks to: logind's LockedHint on the login
// session (system bus) and the ActiveChanged signal of the freedesktop, GNOME, Cinnamon, MATE and
// Xfce screensavers (session bus). A screensaver is only a lock when its locker's own settings say
// it locks (GSettings for GNOME, Cinnamon and MATE, xfconf for Xfce) and it has been up past their
// lock delay, or when Tovak's own lock through it was confirmed; the freedesktop name, whose owner
// varies, counts only then. Signals are taken only from the owner of each service name, so another
// program cannot fake an unlock. Changes are reported on the thread that made the watcher (main).
class LinuxSessionLockWatcher final : public QObject, public monitor::SessionLockWatcher {
    Q_OBJECT

  public:
    LinuxSessionLockWatcher(QDBusConnection sessionBus, QDBusConnection systemBus, LinuxLockOptions options = {});
    ~LinuxSessionLockWatcher() override;

    // True when logind knows our session or one of the screensavers is running now.
    [[nodiscard]] bool isAvailable() const override { return available_; }
    void setOnChange(std::function<void(bool locked)> onChange) override { onChange_ = std::move(onChange); }
    // As last reported.
    [[nodiscard]] bool isLocked() const { return reported_; }

    // Any thread: Tovak's lock through the screensaver that owns service was confirmed. Every
    // watcher hears of it on its own thread.
    static void noteOwnLock(const QString& service);

  private Q_SLOTS:
    void screenSaverActiveChanged(bool active, const QDBusMessage& message);
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

  private:
    void update();

    QDBusConnection sessionBus_;
    QDBusConnection systemBus_;
    LinuxLockOptions options_;
    QString sessionPath_;
    bool available_ = false;
    SessionLockState state_;
    bool reported_ = false;
    // Runs out when a screensaver's lock delay does.
    QTimer lockDelay_;
    std::function<void(bool)> onChange_;
};

}  // namespace tovak::lock

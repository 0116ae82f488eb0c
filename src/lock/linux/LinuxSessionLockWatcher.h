#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <functional>

#include "lock/linux/LinuxLockChain.h"
#include "monitor/ports/SessionLockWatcher.h"

namespace tovak::lock {

// The lock state from the services the lock chain talks to: logind's LockedHint on the login
// session (system bus) and the ActiveChanged signal of the freedesktop, GNOME, Cinnamon, MATE and
// Xfce screensavers (session bus). Locked while any of them says so. Signals are taken only from
// the owner of each service name, so another program cannot fake an unlock. Changes are reported
// on the thread that made the watcher (the main thread).
class LinuxSessionLockWatcher final : public QObject, public monitor::SessionLockWatcher {
    Q_OBJECT

  public:
    LinuxSessionLockWatcher(QDBusConnection sessionBus, QDBusConnection systemBus, LinuxLockOptions options = {});

    // True when logind knows our session or one of the screensavers is running now.
    [[nodiscard]] bool isAvailable() const override { return available_; }
    void setOnChange(std::function<void(bool locked)> onChange) override { onChange_ = std::move(onChange); }
    [[nodiscard]] bool isLocked() const { return sessionLocked_ || !activeScreenSavers_.isEmpty(); }

  private Q_SLOTS:
    void screenSaverActiveChanged(bool active, const QDBusMessage& message);
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

  private:
    void reportIfChanged(bool wasLocked);

    QDBusConnection systemBus_;
    LinuxLockOptions options_;
    QString sessionPath_;
    bool available_ = false;
    bool sessionLocked_ = false;
    QSet<QString> activeScreenSavers_;
    std::function<void(bool)> onChange_;
};

}  // namespace tovak::lock

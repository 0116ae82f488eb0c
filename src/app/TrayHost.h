#pragma once

#include <QObject>
#include <memory>

#include "app/XEmbedTray.h"

class QDBusServiceWatcher;

namespace tovak::app {

// Whether the desktop has somewhere to show a tray icon, followed as it changes, without polling:
// a StatusNotifierItem host (the watcher's name on the session bus, its hosts' registrations) and,
// on X11, an XEmbed tray (the owner of the _NET_SYSTEM_TRAY_S<n> selection, through XFixes).
//
// Qt 6.4 decides once per process, at the first tray icon it makes, whether icons go over D-Bus;
// so no QSystemTrayIcon should be made, nor QSystemTrayIcon::isSystemTrayAvailable() asked, before
// this says there is a host. Main thread.
class TrayHost final : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";

    explicit TrayHost(QObject* parent = nullptr);
    ~TrayHost() override;

    [[nodiscard]] bool statusNotifierHost() const { return statusNotifier_; }
    [[nodiscard]] bool xembedTray() const { return xembed_; }
    [[nodiscard]] bool available() const { return alwaysThere_ || statusNotifier_ || xembed_; }

  Q_SIGNALS:
    // Either kind of host came or went.
    void changed();

  private Q_SLOTS:
    // Asks the watcher whether a host has registered; the answer comes later.
    void askStatusNotifierHost();

  private:
    void setStatusNotifierHost(bool present);
    void readXEmbedTray();

    QDBusServiceWatcher* watcher_ = nullptr;
    std::unique_ptr<XEmbedTray> xembedTray_;
    bool alwaysThere_ = false;
    bool statusNotifier_ = false;
    bool xembed_ = false;
};

}  // namespace tovak::app

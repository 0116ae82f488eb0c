#pragma once

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <memory>
#include <string>

#include "app/AdminLocks.h"
#include "app/CommandLine.h"
#include "monitor/PrivacyMonitor.h"
#include "runtime/SerialQueue.h"
#include "trigger/WindowControl.h"

class QMenu;
class QWindow;

namespace tovak::system {
class PolicySettingsStore;
}

namespace tovak::audit {
class AuditRecorder;
}

namespace tovak::runtime {
class QtMainQueue;
}

namespace tovak::app {

class CameraChooser;
class JournalController;
class SingleInstance;
class SourcePacer;
class StatusTray;
class TrayHost;

// The application: owns the one monitor for the life of the process, the main window whose content
// is the control panel, and on Linux the tray icon and the single-instance server that bring the
// window back after it was closed. Closing the window stops nothing while the tray icon is shown;
// without one it minimises the window while monitoring is on, and quits when it is off.
class TovakApp final : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* applicationId = "org.tovak.Tovak";

    // Builds the monitor on the chosen camera; error is set (and nothing usable made) for a bad source.
    TovakApp(const Options& options, std::string& error);
    ~TovakApp() override;

    [[nodiscard]] monitor::PrivacyMonitor& monitor() { return *monitor_; }
    // What the administrator locked and the longest pause allowed.
    [[nodiscard]] AdminLocks adminLocks() const;
    // The main window, made anew if it was closed, restored if minimised and brought to the front.
    QMainWindow& showMainWindow();
    [[nodiscard]] QMainWindow* mainWindow() const { return window_; }
    // The tray icon, once the desktop has had somewhere to show it; and whether it is shown now.
    [[nodiscard]] StatusTray* tray() const { return tray_; }
    [[nodiscard]] bool trayShown() const;
    // The first appearance: the window unless only the tray icon is asked for (and there is one),
    // and monitoring at once when asked.
    void open(const Options& options);

    // Asks a running instance to show its window; true when one answered.
    static bool askRunningInstanceToShow();
    // Starts answering later instances; false when another instance already does.
    bool listenForOtherInstances();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The camera the options name; none, with the reason in error, for a source that does not open.
    std::shared_ptr<monitor::CameraSession> makeCamera(const Options& options, std::string& error);
    void addDocumentPorts(monitor::Ports& deps, const std::shared_ptr<trigger::WindowControl>& windowControl,
                          std::shared_ptr<std::weak_ptr<monitor::PrivacyMonitor>> statusTarget);
    // The main window, made if it was closed; not shown.
    QMainWindow& mainWindowMade();
    void trayHostChanged();
    void addTrayEntries(QMenu& menu);
    void toggleMainWindow();

    std::shared_ptr<runtime::QtMainQueue> main_;
    // The user's settings under the administrator's policy, read once at the start.
    std::shared_ptr<system::PolicySettingsStore> settings_;
    // Where the session's window control is asked, one call at a time, off the GUI thread.
    std::shared_ptr<runtime::SerialQueue> windowsQueue_;
    std::shared_ptr<monitor::PrivacyMonitor> monitor_;
    std::unique_ptr<SourcePacer> pacer_;
    QPointer<QMainWindow> window_;
    // The same window as a plain object, for the event filter: events still come while it is being
    // destroyed, when it is no longer a QMainWindow to cast to.
    QPointer<QObject> windowObject_;
    QPointer<QWindow> windowHandle_;
    TrayHost* trayHost_ = nullptr;
    StatusTray* tray_ = nullptr;
    // Whether Qt showed the icon through a StatusNotifierItem host rather than an XEmbed tray.
    bool trayOverDBus_ = false;
    // The window shown again because the tray went: minimised as soon as it is on screen.
    bool minimiseWhenExposed_ = false;
    SingleInstance* instance_ = nullptr;
    std::unique_ptr<JournalController> journal_;
    // The audit trail's recorder, where it is kept.
    std::shared_ptr<audit::AuditRecorder> audit_;
    // The camera's choice, where the camera is a real one.
    CameraChooser* cameraChooser_ = nullptr;
};

}  // namespace tovak::app

#pragma once

#include <QObject>
#include <memory>
#include <optional>

#include "camera/V4L2CameraSession.h"
#include "camera/linux/LogindLid.h"
#include "monitor/PrivacyMonitor.h"
#include "monitor/ports/Services.h"

class QMenu;

namespace tovak::app {

// The camera the user chooses, in the window and the tray menu: "Автоматически" or one of the
// colour cameras by the name its driver gives. The choice is kept in the settings by the camera's
// identity, which survives replugging and reboots; one given on the command line counts for this
// run only. While the choice is automatic, the lid closing or opening may change the camera.
class CameraChooser final : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* settingsKey = "tovak.camera";

    // Hands the session its first choice: the command line's, else the settings'. lid may be none.
    CameraChooser(std::shared_ptr<camera::V4L2CameraSession> session, std::shared_ptr<monitor::SettingsStore> settings,
                  const camera::CameraChoice& commandLine, std::unique_ptr<camera::LogindLid> lid,
                  QObject* parent = nullptr);

    // The monitor told of every change; set once it is made.
    void setMonitor(std::weak_ptr<monitor::PrivacyMonitor> monitor) { monitor_ = std::move(monitor); }
    // The administrator chose the camera: every entry of the menus is greyed out.
    void setSetByAdministrator(bool locked) { setByAdministrator_ = locked; }
    // A menu, filled afresh each time it opens; owned by parent.
    [[nodiscard]] QMenu* makeMenu(QWidget* parent);
    // What an entry of the menu does.
    void choose(const camera::CameraChoice& choice);

  private:
    void fill(QMenu& menu);
    void tellMonitor();

    std::shared_ptr<camera::V4L2CameraSession> session_;
    std::shared_ptr<monitor::SettingsStore> settings_;
    std::unique_ptr<camera::LogindLid> lid_;
    std::weak_ptr<monitor::PrivacyMonitor> monitor_;
    bool setByAdministrator_ = false;
};

}  // namespace tovak::app

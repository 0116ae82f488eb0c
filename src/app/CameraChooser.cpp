#include "app/CameraChooser.h"

#include <QActionGroup>
#include <QMenu>
#include <algorithm>

#include "app/AdminLocks.h"

namespace tovak::app {

using camera::CameraChoice;
using camera::CameraInfo;

CameraChooser::CameraChooser(std::shared_ptr<camera::V4L2CameraSession> session,
                             std::shared_ptr<monitor::SettingsStore> settings, const CameraChoice& commandLine,
                             std::unique_ptr<camera::LogindLid> lid, QObject* parent)
    : QObject(parent), session_(std::move(session)), settings_(std::move(settings)), lid_(std::move(lid)) {
    CameraChoice first = commandLine;
    if (first.by == CameraChoice::By::automatic && settings_) {
        if (const std::optional<std::string> kept = settings_->string(settingsKey); kept && !kept->empty()) {
            first = {CameraChoice::By::identity, *kept};
        }
    }
    session_->setChoice(first);
    if (lid_) {
        session_->setLidClosed(lid_->question());
        lid_->setOnChange([this](bool) {
            if (session_->choice().by == CameraChoice::By::automatic) {
                tellMonitor();
            }
        });
    }
}

QMenu* CameraChooser::makeMenu(QWidget* parent) {
    auto* menu = new QMenu(QStringLiteral("Камера"), parent);
    menu->setObjectName("cameraMenu");
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { fill(*menu); });
    fill(*menu);
    return menu;
}

void CameraChooser::fill(QMenu& menu) {
    menu.clear();
    const CameraChoice chosen = session_->choice();
    auto* group = new QActionGroup(&menu);
    const auto add = [&](const QString& text, const CameraChoice& choice, bool checked) {
        QAction* action = menu.addAction(text, this, [this, choice] { choose(choice); });
        action->setCheckable(true);
        action->setChecked(checked);
        group->addAction(action);
        return action;
    };
    add(QStringLiteral("Автоматически"), {}, chosen.by == CameraChoice::By::automatic);
    menu.addSeparator();
    const std::vector<CameraInfo> cameras = camera::listCameras(session_->system()).cameras;
    for (const CameraInfo& camera : cameras) {
        if (camera.infrared) {
            continue;  // grey pictures are no use to the face detector
        }
        // Two cameras of one model are told apart by their device.
        const bool twin = std::count_if(cameras.begin(), cameras.end(),
                                        [&](const CameraInfo& other) { return other.name == camera.name; }) > 1;
        const QString name = QString::fromStdString(camera.name);
        add(twin ? name + QStringLiteral(" (%1)").arg(QString::fromStdString(camera.path)) : name,
            {CameraChoice::By::identity, camera.identity}, camera::isChosen(chosen, camera));
    }
    const bool missing = chosen.by != CameraChoice::By::automatic &&
                         std::none_of(cameras.begin(), cameras.end(),
                                      [&](const CameraInfo& camera) { return camera::isChosen(chosen, camera); });
    if (missing) {
        add(QStringLiteral("Выбранная камера не подключена"), chosen, true)->setEnabled(false);
    } else if (cameras.empty()) {
        menu.addAction(QStringLiteral("Камер не найдено"))->setEnabled(false);
    }
    if (setByAdministrator_) {
        menu.setToolTipsVisible(true);
        for (QAction* action : menu.actions()) {
            showSetByAdministrator(action);
        }
    }
}

void CameraChooser::choose(const CameraChoice& choice) {
    const bool kept = choice.by == CameraChoice::By::automatic ? settings_->remove(settingsKey)
                                                               : settings_->setString(settingsKey, choice.value);
    session_->setChoice(choice);
    tellMonitor();
    if (!kept) {
        if (const auto monitor = monitor_.lock()) {
            monitor->statusLine.set("Выбор камеры не сохранился");
        }
    }
}

void CameraChooser::tellMonitor() {
    if (const auto monitor = monitor_.lock()) {
        monitor->cameraChoiceChanged();
    }
}

}  // namespace tovak::app

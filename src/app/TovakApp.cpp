#include "app/TovakApp.h"

#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QMainWindow>
#include <QMenu>
#include <QWindow>
#include <future>
#include <iostream>

#include "app/Autostart.h"
#include "app/CameraChooser.h"
#include "app/ContentView.h"
#include "app/HeadlessRunner.h"
#include "app/Icons.h"
#include "app/JournalController.h"
#include "app/SingleInstance.h"
#include "app/SourcePacer.h"
#include "app/StatusTray.h"
#include "app/TrayHost.h"
#include "audit/AuditRecorder.h"
#include "camera/NodeContention.h"
#include "camera/V4L2CameraSession.h"
#include "facedetect/BlazeFaceDetector.h"
#include "headless/ReportingAdapters.h"
#include "lock/PlatformLock.h"
#include "monitor/qt/QtSettingsStore.h"
#include "overlay/FullscreenFaceController.h"
#include "overlay/PiPWindowController.h"
#include "overlay/SessionWindows.h"
#include "runtime/SerialQueue.h"
#include "runtime/qt/QtMainQueue.h"
#include "sources/SourceCameraSession.h"
#include "sources/SourceOpener.h"
#include "system/AutomationWarmup.h"
#include "system/DataDirectory.h"
#include "system/PlatformScriptRunner.h"
#include "system/PolicySettingsStore.h"
#include "trigger/PlatformDocuments.h"
#include "trigger/PosixFileSystem.h"
#include "trigger/WindowControl.h"
#include "trigger/qt/QtFileChooser.h"
#include "trigger/qt/QtWorkspace.h"

namespace tovak::app {

std::shared_ptr<monitor::CameraSession> TovakApp::makeCamera(const Options& options, std::string& error) {
    if (!options.camera) {
        return std::make_shared<camera::V4L2CameraSession>();
    }
    // The window's demo plays on until it is stopped.
    std::unique_ptr<sources::FrameSource> source = *options.camera == "demo" || options.loop
                                                       ? sources::openLoopingSource(*options.camera, error)
                                                       : sources::openSource(*options.camera, error);
    if (!source) {
        return nullptr;
    }
    auto sourceCamera = std::make_shared<sources::SourceCameraSession>(std::move(source));
    pacer_ = std::make_unique<SourcePacer>(sourceCamera);
    return sourceCamera;
}

// The decoy's ports: the window control's workspace and closer, the settings, the chooser. What the
// window control cannot do goes to the status line of the monitor statusTarget comes to hold.
void TovakApp::addDocumentPorts(monitor::Ports& deps, const std::shared_ptr<trigger::WindowControl>& windowControl,
                                std::shared_ptr<std::weak_ptr<monitor::PrivacyMonitor>> statusTarget) {
    deps.settings = settings_;
    deps.fileSystem = std::make_shared<trigger::PosixFileSystem>();
    deps.resources = std::make_shared<system::DataDirectoryResources>();
    trigger::PlatformDocuments documents =
        trigger::makePlatformDocuments(windowControl, std::make_shared<trigger::QtWorkspace>(), windowsQueue_, main_,
                                       [statusTarget](const std::string& text) {
                                           if (const auto monitor = statusTarget->lock()) {
                                               monitor->statusLine.set(text);
                                           }
                                       });
    deps.workspace = documents.workspace;
    deps.documentCloser = documents.closer;
    // The chooser opens in the folder of the user's own decoy; the default one's folder is the
    // program's, where the user keeps nothing.
    deps.fileChooser = std::make_shared<trigger::QtFileChooser>(
        nullptr, [settings = deps.settings] { return settings->string(monitor::TriggerDocument::customPathKey); });
    deps.homeDirectory = qEnvironmentVariable("HOME").toStdString();
}

namespace {

// The window watching a camera keeps the audit trail; the demo and files only when asked. None
// otherwise. The user's changes of the settings are recorded in it.
std::shared_ptr<audit::AuditTrail> makeAuditTrail(const Options& options, system::PolicySettingsStore& settings) {
    if (options.camera && !options.audit) {
        return nullptr;
    }
    auto trail = std::make_shared<audit::AuditTrail>();
    settings.setOnChange([trail](const std::string& key, const std::optional<std::string>& value) {
        audit::AuditTrail::Fields fields = {{"TOVAK_SETTING", key}};
        // Marked faces are boxes where faces were: the change is told, never where they are.
        if (key != "tovak.ignoredFaces") {
            fields.emplace_back("TOVAK_VALUE", value.value_or(""));
        }
        trail->record(audit::AuditKind::settingChanged, std::move(fields));
    });
    return trail;
}

// What the monitor says first (the desktop's notice, the policy's problems), and the panel's
// "Не замечать это лицо" wired to it.
void sayFirstAndLetMark(const std::shared_ptr<monitor::PrivacyMonitor>& monitor, overlay::PiPWindowController& pip,
                        const std::shared_ptr<system::PolicySettingsStore>& settings,
                        const std::string& desktopNotice) {
    monitor->desktopNotice.set(desktopNotice);
    // Said once: the next status replaces it, stderr keeps the details.
    if (const std::string policyNotice = settings->policy().statusLine(); !policyNotice.empty()) {
        monitor->statusLine.set(policyNotice);
    }
    pip.setOnIgnore([weak = std::weak_ptr(monitor), settings](const imaging::Rect& box) {
        // Where faces may not be marked, the mark would hold only until the next start: none at all.
        if (const auto watching = weak.lock(); watching && !settings->isLocked("tovak.ignoredFaces")) {
            watching->ignoreFace(box);
        }
    });
}

}  // namespace

TovakApp::TovakApp(const Options& options, std::string& error) {
    main_ = std::make_shared<runtime::QtMainQueue>();
    settings_ = std::make_shared<system::PolicySettingsStore>(
        std::make_shared<monitor::QtSettingsStore>(),
        std::make_shared<system::Policy>(system::Policy::fromEnvironment()));
    for (const std::string& problem : settings_->policy().problems()) {
        std::cerr << "tovak: " << problem << "\n";
    }
    const std::shared_ptr<audit::AuditTrail> trail = makeAuditTrail(options, *settings_);
    std::shared_ptr<monitor::CameraSession> camera = makeCamera(options, error);
    if (!camera) {
        return;
    }

    monitor::Ports deps;
    deps.mainQueue = main_;
    deps.sessionQueue = std::make_shared<runtime::SerialQueue>("tovak.session");
    deps.backgroundQueue = std::make_shared<runtime::SerialQueue>("tovak.background");
    auto clock = std::make_shared<runtime::SystemClock>();
    deps.clock = clock;
    deps.session = camera;
    // A missing model does not stop the window: "Старт" then says the detector failed.
    const std::shared_ptr<facedetect::BlazeFaceDetector> detector = makeFaceDetector(options, std::cerr);
    if (!options.detectEveryFrame) {
        detector->useChangeTest(clock);
    }
    deps.faceDetector = detector;
    windowsQueue_ = std::make_shared<runtime::SerialQueue>("tovak.windows");
    std::string windowControlNotice;
    const std::shared_ptr<trigger::WindowControl> windowControl =
        trigger::makeWindowControl(trigger::DesktopSession::fromEnvironment(), &windowControlNotice);
    auto session = overlay::SessionWindows::create(windowControl, windowsQueue_, main_);
    auto pip = overlay::PiPWindowController::create(main_, overlay::primaryScreen(), session);
    deps.pip = pip;
    deps.fullscreen = overlay::FullscreenFaceController::create(main_, overlay::primaryScreen(), session);
    deps.screenLock =
        options.lockDryRun
            ? std::shared_ptr<monitor::ScreenLocker>(std::make_shared<headless::DryRunScreenLocker>(main_))
            : lock::makePlatformScreenLocker(main_);
    // The monitor is made below.
    auto statusTarget = std::make_shared<std::weak_ptr<monitor::PrivacyMonitor>>();
    addDocumentPorts(deps, windowControl, statusTarget);
    if (auto v4l2 = std::dynamic_pointer_cast<camera::V4L2CameraSession>(camera)) {
        if (settings_->isLocked(CameraChooser::settingsKey) && (options.cameraDevice || options.cameraName)) {
            error =
                "the camera is set by the administrator; --camera cannot choose another (камера задана "
                "администратором)";
            return;
        }
        cameraChooser_ = new CameraChooser(v4l2, deps.settings, cameraChoice(options),
                                           std::make_unique<camera::LogindLid>(QDBusConnection::systemBus()), this);
        cameraChooser_->setSetByAdministrator(settings_->isLocked(CameraChooser::settingsKey));
    }
    deps.lockWatcher = lock::makePlatformSessionLockWatcher();
    // A real camera is watched on its own node; the demo and files only on a node standing in for one.
    if (!options.camera || options.cameraNode) {
        deps.contention = std::make_shared<camera::NodeContention>(options.cameraNode);
    }
    journal_ = std::make_unique<JournalController>(main_, std::make_shared<runtime::SystemWallClock>(), deps.settings);
    journal_->setAdminLocks(adminLocks());
    journal_->wire(deps);
    if (trail) {
        audit_ = audit::AuditRecorder::create(trail);
        audit_->wire(deps);
    }
    monitor_ = monitor::PrivacyMonitor::create(std::move(deps));
    journal_->attach(*monitor_);
    if (audit_) {
        audit_->watch(*monitor_);
    }
    *statusTarget = monitor_;
    if (cameraChooser_ != nullptr) {
        cameraChooser_->setMonitor(monitor_);
    }
    sayFirstAndLetMark(monitor_, *pip, settings_, windowControlNotice);

    QApplication::setQuitOnLastWindowClosed(false);
    trayHost_ = new TrayHost(this);
    connect(trayHost_, &TrayHost::changed, this, &TovakApp::trayHostChanged);
    trayHostChanged();
}

TovakApp::~TovakApp() {
    delete window_.data();
    // The tray observes the monitor: it goes first.
    delete tray_;
    tray_ = nullptr;
    pacer_.reset();
    if (monitor_) {
        // Let the stop finish on both queues here, so that the monitor and its windows are not
        // released later from inside Qt's own clean-up of posted events.
        monitor_->stop();
        std::promise<void> sessionDone;
        monitor_->sessionQueue()->async([&sessionDone] { sessionDone.set_value(); });
        sessionDone.get_future().wait();
        QCoreApplication::sendPostedEvents();
        monitor_.reset();
        QCoreApplication::sendPostedEvents();
    }
    // The document's closing asked at the stop, and what it posts back, finish here.
    if (windowsQueue_) {
        windowsQueue_->shutdown();
        QCoreApplication::sendPostedEvents();
    }
}

QMainWindow& TovakApp::mainWindowMade() {
    if (window_.isNull()) {
        auto* window = new QMainWindow;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowTitle(QStringLiteral("Товак"));
        window->setWindowIcon(icon(IconName::app));
        // The panel's views go with the window, the Escape monitor among them; the monitor stays.
        window->installEventFilter(this);
        window->setCentralWidget(new ContentView(
            *monitor_,
            [main = main_] {
                system::AutomationWarmup::shared().scheduleAfterWindowShown(*main, system::makePlatformScriptRunner());
            },
            window));
        auto* view = qobject_cast<ContentView*>(window->centralWidget());
        view->setAdminLocks(adminLocks());
        connect(view, &ContentView::journalRequested, this, [this] { journal_->showJournal(); });
        if (cameraChooser_ != nullptr) {
            view->setCameraMenu(cameraChooser_->makeMenu(view));
        }
        window_ = window;
        windowObject_ = window;
    }
    return *window_;
}

QMainWindow& TovakApp::showMainWindow() {
    mainWindowMade();
    minimiseWhenExposed_ = false;
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
    return *window_;
}

void TovakApp::open(const Options& options) {
    // Without a tray icon a hidden start would leave the user nothing to reach the program by.
    if (!options.hidden || !trayShown()) {
        showMainWindow();
    }
    if (options.startMonitoring || settings_->string(system::Policy::startWatchingKey) == "true") {
        monitor_->start();
    }
}

void TovakApp::trayHostChanged() {
    if (tray_ == nullptr && trayHost_->available()) {
        // Qt sends its icons over D-Bus when a StatusNotifierItem host is there at the first one.
        trayOverDBus_ = trayHost_->statusNotifierHost();
        tray_ = new StatusTray(
            *monitor_, [this] { toggleMainWindow(); }, this);
        tray_->setAdminLocks(adminLocks());
        addTrayEntries(tray_->menu());
        tray_->icon().show();
    }
    // With the icon gone, a closed window would leave nothing to reach the program by.
    if (tray_ != nullptr && !trayShown() && (window_.isNull() || !window_->isVisible())) {
        // Minimised once it is on screen: a window manager ignores a request to minimise a window
        // it has not yet taken, and Qt maps a new window in the normal state whatever it was asked.
        QMainWindow& window = mainWindowMade();
        window.winId();
        window.windowHandle()->installEventFilter(this);
        windowHandle_ = window.windowHandle();
        minimiseWhenExposed_ = true;
        window.show();
    }
}

bool TovakApp::trayShown() const {
    return tray_ != nullptr && (trayOverDBus_ ? trayHost_->statusNotifierHost() : trayHost_->xembedTray());
}

void TovakApp::addTrayEntries(QMenu& menu) {
    menu.addAction(QStringLiteral("Показать окно"), this, [this] { showMainWindow(); });
    if (cameraChooser_ != nullptr) {
        menu.addMenu(cameraChooser_->makeMenu(&menu));
    }
    QAction* autostart = Autostart(QCoreApplication::applicationFilePath()).addMenuEntry(menu, [this] {
        monitor_->statusLine.set("Автозапуск не сохранился");
    });
    // The administrator's autostart entry in /etc/xdg/autostart starts Tovak for everyone.
    if (settings_->isLocked(system::Policy::startAtLoginKey)) {
        showSetByAdministrator(autostart);
    }
    menu.addAction(QStringLiteral("Снова замечать все лица"), this, [this] { monitor_->setIgnoredFaces({}); });
    menu.addAction(QStringLiteral("Журнал"), this, [this] { journal_->showJournal(); });
    menu.addAction(QStringLiteral("Выход"), qApp, &QCoreApplication::quit);
}

AdminLocks TovakApp::adminLocks() const {
    return {[settings = settings_](const std::string& key) { return settings->isLocked(key); },
            settings_->policy().longestPauseSeconds()};
}

void TovakApp::toggleMainWindow() {
    if (!window_.isNull() && window_->isVisible() && !window_->isMinimized()) {
        window_->close();
    } else {
        showMainWindow();
    }
}

bool TovakApp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && minimiseWhenExposed_ && !windowHandle_.isNull() &&
        watched == windowHandle_.data() && windowHandle_->isExposed()) {
        minimiseWhenExposed_ = false;
        window_->showMinimized();
    }
    // Without a tray icon a closed window would leave a watcher nobody sees: while it watches the
    // window goes to the taskbar instead, and a program that watches nothing simply quits.
    if (event->type() == QEvent::Close && !windowObject_.isNull() && watched == windowObject_.data() && !trayShown()) {
        if (monitor_->isRunning.get()) {
            event->ignore();
            window_->showMinimized();
            return true;
        }
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

bool TovakApp::askRunningInstanceToShow() {
    return SingleInstance::askToShow();
}

bool TovakApp::listenForOtherInstances() {
    instance_ = new SingleInstance(this);
    return instance_->listen([this] { showMainWindow(); });
}

}  // namespace tovak::app

#include "app/TovakApp.h"

#include <unistd.h>

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>
#include <future>
#include <iostream>

#include "app/Autostart.h"
#include "app/ContentView.h"
#include "app/HeadlessRunner.h"
#include "app/Icons.h"
#include "app/JournalController.h"
#include "app/SourcePacer.h"
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
#include "trigger/PlatformDocuments.h"
#include "trigger/PosixFileSystem.h"
#include "trigger/WindowControl.h"
#include "trigger/qt/QtFileChooser.h"
#include "trigger/qt/QtWorkspace.h"

namespace tovak::app {

namespace {

// One instance per user; TOVAK_INSTANCE_NAME keeps test runs apart from a real one.
QString instanceName() {
    const QString override = qEnvironmentVariable("TOVAK_INSTANCE_NAME");
    return override.isEmpty() ? QStringLiteral("tovak-%1").arg(::getuid()) : override;
}

}  // namespace

TovakApp::TovakApp(const Options& options, std::string& error) {
    main_ = std::make_shared<runtime::QtMainQueue>();

    std::shared_ptr<monitor::CameraSession> camera;
    if (!options.camera) {
        camera = std::make_shared<camera::V4L2CameraSession>();
    } else {
        // The window's demo plays on until it is stopped.
        std::unique_ptr<sources::FrameSource> source = *options.camera == "demo" || options.loop
                                                           ? sources::openLoopingSource(*options.camera, error)
                                                           : sources::openSource(*options.camera, error);
        if (!source) {
            return;
        }
        auto sourceCamera = std::make_shared<sources::SourceCameraSession>(std::move(source));
        pacer_ = std::make_unique<SourcePacer>(sourceCamera);
        camera = sourceCamera;
    }

    monitor::Ports deps;
    deps.mainQueue = main_;
    deps.sessionQueue = std::make_shared<runtime::SerialQueue>("tovak.session");
    deps.backgroundQueue = std::make_shared<runtime::SerialQueue>("tovak.background");
    auto clock = std::make_shared<runtime::SystemClock>();
    deps.clock = clock;
    deps.session = camera;
    // A missing model does not stop the window: "Старт" then says the detector failed.
    deps.faceDetector = makeFaceDetector(options, std::cerr);
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
    deps.settings = std::make_shared<monitor::QtSettingsStore>();
    deps.fileSystem = std::make_shared<trigger::PosixFileSystem>();
    deps.resources = std::make_shared<system::DataDirectoryResources>();
    // What the window control cannot do is said in the status line; the monitor is made below.
    auto statusTarget = std::make_shared<std::weak_ptr<monitor::PrivacyMonitor>>();
    trigger::PlatformDocuments documents =
        trigger::makePlatformDocuments(windowControl, std::make_shared<trigger::QtWorkspace>(), windowsQueue_, main_,
                                       [statusTarget](const std::string& text) {
                                           if (const auto monitor = statusTarget->lock()) {
                                               monitor->statusLine.set(text);
                                           }
                                       });
    deps.workspace = documents.workspace;
    deps.documentCloser = documents.closer;
    deps.fileChooser = std::make_shared<trigger::QtFileChooser>();
    deps.homeDirectory = qEnvironmentVariable("HOME").toStdString();
    deps.lockWatcher = lock::makePlatformSessionLockWatcher();
    // A real camera is watched on its own node; the demo and files only on a node standing in for one.
    if (!options.camera || options.cameraNode) {
        deps.contention = std::make_shared<camera::NodeContention>(options.cameraNode);
    }
    journal_ = std::make_unique<JournalController>(main_, std::make_shared<runtime::SystemWallClock>(), deps.settings);
    journal_->wire(deps);
    monitor_ = monitor::PrivacyMonitor::create(std::move(deps));
    journal_->attach(*monitor_);
    *statusTarget = monitor_;
    if (!windowControlNotice.empty()) {
        monitor_->statusLine.set(windowControlNotice);
    }
    pip->setOnIgnore([weak = std::weak_ptr(monitor_)](const imaging::Rect& box) {
        if (const auto monitor = weak.lock()) {
            monitor->ignoreFace(box);
        }
    });

    QApplication::setQuitOnLastWindowClosed(false);
    makeTray();
}

TovakApp::~TovakApp() {
    delete window_.data();
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

QMainWindow& TovakApp::showMainWindow() {
    if (window_.isNull()) {
        auto* window = new QMainWindow;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowTitle(QStringLiteral("Товак"));
        window->setWindowIcon(icon(IconName::app));
        // The panel's views go with the window, the Escape monitor among them; the monitor stays.
        window->setCentralWidget(new ContentView(
            *monitor_,
            [main = main_] {
                system::AutomationWarmup::shared().scheduleAfterWindowShown(*main, system::makePlatformScriptRunner());
            },
            window));
        connect(qobject_cast<ContentView*>(window->centralWidget()), &ContentView::journalRequested, this,
                [this] { journal_->showJournal(); });
        window_ = window;
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    return *window_;
}

void TovakApp::open(const Options& options) {
    // Without a tray icon a hidden start would leave the user nothing to reach the program by.
    if (!options.hidden || tray_ == nullptr) {
        showMainWindow();
    }
    if (options.startMonitoring) {
        monitor_->start();
    }
}

void TovakApp::makeTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    tray_ = new QSystemTrayIcon(icon(IconName::app), this);
    tray_->setToolTip(QStringLiteral("Товак"));
    auto* menu = new QMenu;
    menu->addAction(QStringLiteral("Показать окно"), this, [this] { showMainWindow(); });
    Autostart(QCoreApplication::applicationFilePath()).addMenuEntry(*menu, [this] {
        monitor_->statusLine.set("Автозапуск не сохранился");
    });
    menu->addAction(QStringLiteral("Снова замечать все лица"), this, [this] { monitor_->setIgnoredFaces({}); });
    menu->addAction(QStringLiteral("Журнал"), this, [this] { journal_->showJournal(); });
    menu->addAction(QStringLiteral("Выход"), qApp, &QCoreApplication::quit);
    tray_->setContextMenu(menu);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            showMainWindow();
        }
    });
    tray_->show();
}

bool TovakApp::askRunningInstanceToShow() {
    QLocalSocket socket;
    socket.connectToServer(instanceName());
    if (!socket.waitForConnected(500)) {
        return false;
    }
    socket.write("show\n");
    socket.waitForBytesWritten(500);
    socket.disconnectFromServer();
    return true;
}

bool TovakApp::listenForOtherInstances() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(instanceName())) {
        // A server left behind by a crashed instance answers nobody: take its name over.
        if (askRunningInstanceToShow()) {
            return false;
        }
        QLocalServer::removeServer(instanceName());
        if (!server_->listen(instanceName())) {
            return true;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            showMainWindow();
        }
    });
    return true;
}

}  // namespace tovak::app

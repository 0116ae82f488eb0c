#include "app/GuiMain.h"

#include <QApplication>
#include <QDBusMessage>
#include <QMainWindow>
#include <iostream>
#include <string>
#include <vector>

#include "app/DisplayCheck.h"
#include "app/HeadlessRunner.h"
#include "app/Icons.h"
#include "app/QtTranslations.h"
#include "app/TovakApp.h"
#include "app/dbus/ControlClient.h"
#include "app/dbus/ControlService.h"

namespace tovak::app {

int runGui(int& argc, char** argv, const Options& options) {
    // Tovak's own windows run through XWayland on a Wayland session unless the user chose a
    // platform: there a frameless panel can stay on top and the close-up cover a whole screen,
    // which Wayland leaves to the compositor. Chosen by Qt's own argument, not in the environment,
    // which the programs Tovak starts (the decoy's application) inherit as the user's.
    std::vector<char*> qtArguments(argv, argv + argc);
    std::string platform = qEnvironmentVariable("QT_QPA_PLATFORM").toStdString();
    static char platformOption[] = "-platform";
    static char xcb[] = "xcb";
    if (platform.empty() && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        platform = xcb;
        qtArguments.insert(qtArguments.begin() + 1, {platformOption, xcb});
    }
    if (const std::optional<std::string> message = missingDisplayMessage(platform)) {
        std::cerr << *message << "\n";
        return 1;
    }
    int qtArgumentCount = static_cast<int>(qtArguments.size());
    qtArguments.push_back(nullptr);
    QApplication application(qtArgumentCount, qtArguments.data());
    QApplication::setApplicationName(QStringLiteral("tovak"));
    QApplication::setApplicationDisplayName(QStringLiteral("Товак"));
    QApplication::setDesktopFileName(QString::fromLatin1(TovakApp::applicationId));
    QApplication::setWindowIcon(icon(IconName::app));
    installQtTranslations();

    // A second start shows the running instance's window instead of making a second monitor.
    if (TovakApp::askRunningInstanceToShow()) {
        const bool started = options.startMonitoring && askRunningToStart();
        std::cout << "tovak: already running; its window was brought to the front" << (started ? " and it watches" : "")
                  << "\n";
        return 0;
    }
    // The bus name is the other single-instance check: a Tovak whose socket did not answer still holds it.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const ControlService::Claim claim = ControlService::claimName(bus);
    if (claim == ControlService::Claim::taken) {
        std::cerr << "tovak: Товак уже запущен\n";
        return exitRefused;
    }
    std::string error;
    TovakApp app(options, error);
    if (!error.empty()) {
        std::cerr << "tovak: " << error << "\n";
        return 2;
    }
    ControlService control(app.monitor());
    control.setLongestPause(app.adminLocks().longestPauseSeconds);
    if (claim == ControlService::Claim::noBus || !control.publish(bus)) {
        std::cerr << "tovak: no session bus: tovak --status and the other commands cannot reach this Tovak\n";
    }
    app.listenForOtherInstances();
    app.open(options);
    return QApplication::exec();
}

int runControl(int& argc, char** argv, const Options& options) {
    // Qt's registry of types made before its bus connections, so that it is gone after them at the
    // end: the bus's thread may still read a message then.
    qRegisterMetaType<QDBusMessage>();
    QCoreApplication application(argc, argv);
    return runControlCommand(options, std::cout, std::cerr);
}

}  // namespace tovak::app

#include "app/GuiMain.h"

#include <QApplication>
#include <QMainWindow>
#include <iostream>
#include <string>

#include "app/DisplayCheck.h"
#include "app/Icons.h"
#include "app/QtTranslations.h"
#include "app/TovakApp.h"

namespace tovak::app {

int runGui(int& argc, char** argv, const Options& options) {
    // Tovak's own windows run through XWayland on a Wayland session unless the user chose a
    // platform: there a frameless panel can stay on top and the close-up cover a whole screen,
    // which Wayland leaves to the compositor.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    if (const std::optional<std::string> message = missingDisplayMessage()) {
        std::cerr << *message << "\n";
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tovak"));
    QApplication::setApplicationDisplayName(QStringLiteral("Товак"));
    QApplication::setDesktopFileName(QString::fromLatin1(TovakApp::applicationId));
    QApplication::setWindowIcon(icon(IconName::app));
    installQtTranslations();

    // A second start shows the running instance's window instead of making a second monitor.
    if (TovakApp::askRunningInstanceToShow()) {
        std::cout << "tovak: already running; its window was brought to the front\n";
        return 0;
    }
    std::string error;
    TovakApp app(options, error);
    if (!error.empty()) {
        std::cerr << "tovak: " << error << "\n";
        return 2;
    }
    app.listenForOtherInstances();
    app.open(options);
    return QApplication::exec();
}

}  // namespace tovak::app

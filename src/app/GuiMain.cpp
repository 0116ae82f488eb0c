#include "app/GuiMain.h"

#include <QApplication>
#include <QMainWindow>
#include <iostream>
#include <string>
#include <vector>

#include "app/DisplayCheck.h"
#include "app/Icons.h"
#include "app/QtTranslations.h"
#include "app/TovakApp.h"

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

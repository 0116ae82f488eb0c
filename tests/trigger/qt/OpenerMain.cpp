// Stands for Tovak around its desktop opener: hands DOCUMENT to the opener (a stand-in on PATH) and
// quits at once, as "Выход" would while the opener still runs: `tovak_test_opener DOCUMENT`.
#include <QCoreApplication>
#include <QTimer>

#include "trigger/qt/QtWorkspace.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    bool refused = argc != 2;
    if (!refused) {
        tovak::trigger::QtWorkspace().openThen(argv[1], [&refused](bool opened) { refused = !opened; });
    }
    QTimer::singleShot(0, &application, &QCoreApplication::quit);
    return QCoreApplication::exec() == 0 && !refused ? 0 : 1;
}

#include <gtest/gtest.h>

#include <QApplication>

namespace {

QtMessageHandler previousHandler = nullptr;

// The offscreen platform cannot stack windows and says so on every raise.
void filterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!message.contains(QLatin1String("does not support raise()")) && previousHandler != nullptr) {
        previousHandler(type, context, message);
    }
}

}  // namespace

// One QApplication for the whole test executable; the offscreen platform unless the test asks for
// another (an X server of its own).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    previousHandler = qInstallMessageHandler(&filterMessages);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

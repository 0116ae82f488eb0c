#include <gtest/gtest.h>

#include <QApplication>

// One QApplication for the whole test executable; the offscreen platform unless the test asks for
// another (an X server of its own).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    // The offscreen platform cannot stack windows and says so on every raise.
    static const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (!message.contains(QLatin1String("does not support raise()"))) {
                previous(type, context, message);
            }
        });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include <gtest/gtest.h>

#ifdef TOVAK_TEST_QT
#include <QApplication>
#endif

// Every test's main: 77 (ctest's SKIP_RETURN_CODE) only when every case that ran skipped itself.
int main(int argc, char** argv) {
#ifdef TOVAK_TEST_QT
    // One QApplication, on the offscreen platform unless the test asks for another (an X server of its own).
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
#endif
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    const ::testing::UnitTest& u = *::testing::UnitTest::GetInstance();
    return result == 0 && u.test_to_run_count() > 0 && u.skipped_test_count() == u.test_to_run_count() ? 77 : result;
}

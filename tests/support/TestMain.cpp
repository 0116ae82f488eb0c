#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#ifdef TOVAK_TEST_QT
#include <QApplication>
#endif

namespace {

bool qtDBusThreadRuns() {
    std::error_code error;
    for (std::filesystem::directory_iterator task("/proc/self/task", error), end; !error && task != end;
         task.increment(error)) {
        std::ifstream comm(task->path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "QDBusConnection") {
            return true;
        }
    }
    return false;
}

// Qt stops its D-Bus connection thread from a destructor at exit that waits for the thread's event
// loop, not for the thread: the thread drops the last reference to its own data as it ends, and
// the leak check, which runs after every other exit handler, would report that data as lost
// whenever it came first. Registered before anything touches D-Bus, this runs after Qt's
// destructor and waits (two seconds at most) until the thread is gone.
void awaitQtDBusThread() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (qtDBusThreadRuns() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

// Every test's main: 77 (ctest's SKIP_RETURN_CODE) only when every case that ran skipped itself.
int main(int argc, char** argv) {
    std::atexit(awaitQtDBusThread);
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

#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <functional>
#include <memory>

namespace tovak::testing {

// One QApplication for the whole test executable, made before the first test and gone after the
// last (tests run on the offscreen platform, set by CTest).
class QtApplicationEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "tovak-test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        // The offscreen platform cannot stack windows and says so on every raise.
        previousHandler_ = qInstallMessageHandler(&filterMessages);
    }
    void TearDown() override {
        qInstallMessageHandler(previousHandler_);
        app_.reset();
    }

  private:
    static void filterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (!message.contains(QLatin1String("does not support raise()")) && previousHandler_ != nullptr) {
            previousHandler_(type, context, message);
        }
    }
    static inline QtMessageHandler previousHandler_ = nullptr;
    std::unique_ptr<QApplication> app_;
};

inline const bool qtEnvironmentRegistered = (::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment), true);

// Runs the event loop until condition holds or timeoutMs passes; returns the condition.
// (A timeout only bounds a failing test; no speed is asserted.)
inline bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs = 2000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Delivers everything posted so far.
inline void drainEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

}  // namespace tovak::testing

#include <gtest/gtest.h>

#include "support/MonitorHarness.h"

namespace tovak::testing {
namespace {

using monitor::PrivacyMonitor;

// A settings store that cannot keep a change: the user hears of it instead of losing the choice.
TEST(SettingsStatus, ChoiceThatCouldNotBeSavedIsReported) {
    MonitorHarness h;
    h.settings->writable = false;
    h.files->add("/home/user/Бюджет.xlsx");
    h.monitor->pickTriggerFile();
    ASSERT_TRUE(h.chooser->pending);
    h.chooser->pending("/home/user/Бюджет.xlsx");
    h.sim.drain();
    EXPECT_EQ(h.monitor->statusLine.get(), "Настройки не сохранились");
    // It still counts for this run of the program.
    EXPECT_EQ(h.monitor->triggerFileSummary.get(), "Бюджет.xlsx");
}

TEST(SettingsStatus, ClearingThatCouldNotBeSavedIsReported) {
    MonitorHarness h;
    h.settings->writable = false;
    h.monitor->clearCustomTriggerFile();
    h.sim.drain();
    EXPECT_EQ(h.monitor->statusLine.get(), "Настройки не сохранились");
}

}  // namespace
}  // namespace tovak::testing

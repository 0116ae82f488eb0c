// Which trigger document is used, how the choice is stored and summarised.
#include <gtest/gtest.h>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;
using monitor::PrivacyMonitor;

namespace {

struct TriggerFileTest : ::testing::Test {
    MonitorHarness h;
    const std::string mine = "/home/user/Документы/Бюджет Q3.xlsx";

    std::string summaryAfterRefresh() {
        h.monitor->clearCustomTriggerFile();
        h.sim.drain();
        return h.monitor->triggerFileSummary.get();
    }
    void choose(std::optional<std::string> answer) {
        h.monitor->pickTriggerFile();
        ASSERT_TRUE(h.chooser->pending);
        auto completion = std::move(h.chooser->pending);
        completion(std::move(answer));
        h.sim.drain();
    }
};

}  // namespace

TEST_F(TriggerFileTest, ChosenFileIsStoredAsAPlainPathAndUsedWhileItExists) {
    h.files->add(mine);
    choose(mine);
    EXPECT_EQ(h.settings->string(PrivacyMonitor::customTriggerPathKey), mine);
    EXPECT_EQ(h.monitor->triggerFileSummary.get(), "Бюджет Q3.xlsx");
    EXPECT_EQ(h.monitor->resolvedTriggerURL(), mine);

    // Deleted later: the default takes over, the stored path stays, the summary waits for a refresh.
    h.files->erase(mine);
    EXPECT_EQ(h.monitor->resolvedTriggerURL(), kDefaultTrigger);
    EXPECT_EQ(h.monitor->triggerFileSummary.get(), "Бюджет Q3.xlsx");
    EXPECT_EQ(h.settings->string(PrivacyMonitor::customTriggerPathKey), mine);
}

TEST_F(TriggerFileTest, CancelledChoiceKeepsTheEarlierOne) {
    h.files->add(mine);
    choose(mine);
    choose(std::nullopt);
    EXPECT_EQ(h.settings->string(PrivacyMonitor::customTriggerPathKey), mine);
    EXPECT_EQ(h.monitor->triggerFileSummary.get(), "Бюджет Q3.xlsx");
}

TEST_F(TriggerFileTest, SummaryFallsBackToTheDefaultThenToNoFile) {
    h.settings->setString(PrivacyMonitor::customTriggerPathKey, "");
    h.monitor->pickTriggerFile();
    h.chooser->pending(std::nullopt);
    h.sim.drain();
    EXPECT_EQ(h.monitor->resolvedTriggerURL(), kDefaultTrigger);  // an empty stored path counts as none
    EXPECT_EQ(summaryAfterRefresh(), "По умолчанию");
    h.resources->defaultTrigger.reset();
    EXPECT_EQ(summaryAfterRefresh(), "Нет файла");
    EXPECT_FALSE(h.monitor->resolvedTriggerURL());
}

TEST_F(TriggerFileTest, ClosingStandardisesThePath) {
    h.files->add("~/docs/../Бюджет.csv");
    h.settings->setString(PrivacyMonitor::customTriggerPathKey, "~/docs/../Бюджет.csv");
    h.startMonitoring();
    h.frames(3, faces({0.05, 0.03}));
    h.frames(15, {});
    EXPECT_EQ(h.log.count("open:~/docs/../Бюджет.csv"), 1u);
    EXPECT_EQ(h.log.count("close:/home/user/Бюджет.csv"), 1u);
}

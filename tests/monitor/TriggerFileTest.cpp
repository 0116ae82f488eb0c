// Which trigger document is used, how the choice is stored and summarised, and its path's tidy form.
#include <gtest/gtest.h>

#include "monitor/StandardizePath.h"
#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;

namespace {

const std::string kKey = "ruzered.triggerFilePath";

struct TriggerFileTest : ::testing::Test {
    MonitorHarness h;
    const std::string mine = "/home/user/Документы/Бюджет Q3.xlsx";
    void pick(std::optional<std::string> answer) {
        h.monitor->pickTriggerFile();
        ASSERT_TRUE(h.services->pendingChoice);
        h.choose(std::move(answer));
    }
    std::string summaryAfterRefresh() {
        h.monitor->clearCustomTriggerFile();
        h.sim.drain();
        return h.monitor->triggerFileSummary.get();
    }
};

}  // namespace

TEST_F(TriggerFileTest, ChosenFileIsStoredAsAPlainPathAndUsedWhileItExists) {
    h.services->addFile(mine);
    pick(mine);
    pick(std::nullopt);   // a cancelled choice keeps the earlier one
    pick(std::string());  // and so does an empty one
    EXPECT_EQ(h.services->string(kKey), mine);
    EXPECT_EQ(h.monitor->triggerFileSummary.get(), "Бюджет Q3.xlsx");
    EXPECT_EQ(h.monitor->resolvedTriggerURL(), mine);
    EXPECT_EQ(h.status(), "Готов");
    // Deleted later: the default takes over, the stored path stays, the summary waits for a refresh.
    h.services->eraseFile(mine);
    EXPECT_EQ(h.monitor->resolvedTriggerURL(), kDefaultTrigger);
    EXPECT_EQ(h.monitor->triggerFileSummary.get(), "Бюджет Q3.xlsx");
    EXPECT_EQ(h.services->string(kKey), mine);
}

TEST_F(TriggerFileTest, SummaryFallsBackToTheDefaultThenToNoFile) {
    h.services->setString(kKey, "");
    EXPECT_EQ(h.monitor->resolvedTriggerURL(), kDefaultTrigger);  // an empty stored path counts as none
    EXPECT_EQ(summaryAfterRefresh(), "По умолчанию");
    EXPECT_FALSE(h.services->string(kKey));
    h.services->defaultTrigger.reset();
    EXPECT_EQ(summaryAfterRefresh(), "Нет файла");
    EXPECT_FALSE(h.monitor->resolvedTriggerURL());
}

TEST_F(TriggerFileTest, ChangesThatCouldNotBeSavedAreReportedButCountForThisRun) {
    h.services->writable = false;
    h.services->addFile(mine);
    pick(mine);
    EXPECT_EQ(h.status(), "Настройки не сохранились");
    EXPECT_EQ(h.monitor->triggerFileSummary.get(), "Бюджет Q3.xlsx");
    h.monitor->statusLine.set("x");
    summaryAfterRefresh();
    EXPECT_EQ(h.status(), "Настройки не сохранились");
}

TEST_F(TriggerFileTest, ClosingStandardisesThePath) {
    h.services->addFile("~/docs/../Бюджет.csv");
    h.services->setString(kKey, "~/docs/../Бюджет.csv");
    h.start();
    h.frames(3, h.two);
    h.frames(15, {});
    EXPECT_EQ(h.log.count("open:~/docs/../Бюджет.csv"), 1u);
    EXPECT_EQ(h.log.count("close:/home/user/Бюджет.csv"), 1u);
}

TEST(StandardizePath, RemovesRedundantPartsAndExpandsALeadingTilde) {
    const std::pair<const char*, const char*> rows[] = {{"/a//b/./c/", "/a/b/c"},
                                                        {"/a/b/../c", "/a/c"},
                                                        {"/../a", "/a"},
                                                        {"~/x.csv", "/home/anna/x.csv"},
                                                        {"~", "/home/anna"},
                                                        {"/a/~/b", "/a/~/b"},
                                                        {"~other/x", "~other/x"},
                                                        {"a/../../b", "../b"},
                                                        {"/", "/"},
                                                        {"/d/Отчёт \"Q1\".csv", "/d/Отчёт \"Q1\".csv"}};
    for (const auto& [path, expected] : rows) {
        EXPECT_EQ(monitor::standardizePath(path, "/home/anna"), expected) << path;
    }
}

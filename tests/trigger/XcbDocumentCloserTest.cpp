#include <gtest/gtest.h>

#include "support/XDisplay.h"
#include "trigger/linux/XcbDocumentCloser.h"

namespace tovak::trigger {
namespace {

using testing::WithoutWindowManager;
using testing::WithWindowManager;

TEST_F(WithWindowManager, ClosesTheDocumentWindowThroughTheWindowManagerOnly) {
    const xcb_window_t other = x_->window("Отчёт.csv — LibreOffice Calc");
    const xcb_window_t document = x_->window("Бюджет Q3.csv — LibreOffice Calc");
    ASSERT_TRUE(x_->managed());
    XcbDocumentCloser closer(x_->name());
    XcbDocumentCloser::Report report = closer.closeWindowsTitled("Бюджет Q3.csv");
    EXPECT_TRUE(report.reachedDisplay);
    EXPECT_TRUE(report.throughWindowManager);
    EXPECT_EQ(report.windowsAsked, 1);
    EXPECT_EQ(x_->askedToClose(document), std::set<xcb_window_t>{document});
    EXPECT_TRUE(x_->exists(other));
}

TEST_F(WithWindowManager, WindowThatCouldOnlyBeKilledIsLeftAlone) {
    const xcb_window_t stubborn = x_->window("Бюджет Q3.csv — xterm", true, false);
    ASSERT_TRUE(x_->managed());
    XcbDocumentCloser closer(x_->name());
    EXPECT_EQ(closer.closeWindowsTitled("Бюджет Q3.csv").windowsAsked, 0);
    EXPECT_TRUE(x_->askedToClose(0).empty());
    EXPECT_TRUE(x_->exists(stubborn));
}

TEST_F(WithoutWindowManager, SendsEachMatchingWindowItsOwnDeleteMessage) {
    const xcb_window_t other = x_->window("Бюджет Q4.csv — Calc");
    const xcb_window_t document = x_->window("Бюджет Q3.csv — Calc");
    const xcb_window_t second = x_->window("Бюджет Q3.csv (только чтение)", false);
    XcbDocumentCloser closer(x_->name());
    XcbDocumentCloser::Report report = closer.closeWindowsTitled("Бюджет Q3.csv");
    closer.closeDocument("/home/anna/Бюджет Q3.csv");  // the file name is taken from the path
    EXPECT_TRUE(report.reachedDisplay);
    EXPECT_FALSE(report.throughWindowManager);
    EXPECT_EQ(report.windowsAsked, 2);
    std::set<xcb_window_t> asked = x_->askedToClose(document);
    if (asked.count(second) == 0) {
        asked.merge(x_->askedToClose(second));
    }
    EXPECT_EQ(asked, (std::set<xcb_window_t>{document, second}));
    EXPECT_TRUE(x_->exists(other));
}

TEST_F(WithoutWindowManager, WindowThatCannotBeAskedIsLeftAlone) {
    const xcb_window_t stubborn = x_->window("Бюджет Q3.csv — xterm", true, false);
    XcbDocumentCloser closer(x_->name());
    EXPECT_EQ(closer.closeWindowsTitled("Бюджет Q3.csv").windowsAsked, 0);
    EXPECT_TRUE(x_->askedToClose(0).empty());
    EXPECT_TRUE(x_->exists(stubborn));
}

TEST_F(WithoutWindowManager, HostileNamesMatchLiterallyAndEmptyNamesMatchNothing) {
    const std::string hostile = "-rf \"$(touch x)\"; `id` *.csv";
    const xcb_window_t document = x_->window(hostile + " — Calc");
    const xcb_window_t plain = x_->window("rf x.csv — Calc");
    XcbDocumentCloser closer(x_->name());
    EXPECT_EQ(closer.closeWindowsTitled("").windowsAsked, 0);
    closer.closeDocument("/tmp/folder/");
    EXPECT_TRUE(x_->askedToClose(0).empty());
    closer.closeDocument("/tmp/" + hostile);
    EXPECT_EQ(x_->askedToClose(document), std::set<xcb_window_t>{document});
    EXPECT_TRUE(x_->exists(plain));
}

TEST(XcbDocumentCloser, UnreachableDisplayIsIgnored) {
    XcbDocumentCloser closer(":4095");
    XcbDocumentCloser::Report report = closer.closeWindowsTitled("Бюджет.csv");
    EXPECT_FALSE(report.reachedDisplay);
    EXPECT_EQ(report.windowsAsked, 0);
}

}  // namespace
}  // namespace tovak::trigger

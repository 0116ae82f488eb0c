#include <gtest/gtest.h>

#include "support/XDisplay.h"
#include "trigger/linux/XcbDocumentCloser.h"

namespace tovak::trigger {
namespace {

using testing::WithoutWindowManager;
using testing::WithWindowManager;

TEST_F(WithWindowManager, OnlyTheDocumentWindowThatCanBeAskedIsAsked) {
    const xcb_window_t other = x_->window("Отчёт.csv — LibreOffice Calc");
    const xcb_window_t document = x_->window("Бюджет Q3.csv — LibreOffice Calc");
    const xcb_window_t stubborn = x_->window("Бюджет Q3.csv — xterm", true, false);  // could only be killed
    ASSERT_TRUE(x_->managed());
    const XcbDocumentCloser::Report report = XcbDocumentCloser(x_->name()).closeWindowsTitled("Бюджет Q3.csv");
    EXPECT_TRUE(report.reachedDisplay);
    EXPECT_TRUE(report.throughWindowManager);
    EXPECT_EQ(report.windowsAsked, 1);
    EXPECT_EQ(x_->askedToClose(document), std::set<xcb_window_t>{document});
    EXPECT_TRUE(x_->exists(other) && x_->exists(stubborn));
}

TEST_F(WithoutWindowManager, EachMatchingWindowGetsItsOwnDeleteMessage) {
    const std::string hostile = "-rf \"$(touch x)\"; `id` *.csv";
    const xcb_window_t other = x_->window("Бюджет Q4.csv — Calc");
    const xcb_window_t document = x_->window("Бюджет Q3.csv — Calc");
    const xcb_window_t second = x_->window("Бюджет Q3.csv (только чтение)", false);
    const xcb_window_t stubborn = x_->window("Бюджет Q3.csv — xterm", true, false);
    const xcb_window_t strange = x_->window(hostile + " — Calc");
    const xcb_window_t plain = x_->window("rf x_->csv — Calc");
    XcbDocumentCloser closer(x_->name());
    // Empty names match nothing.
    EXPECT_EQ(closer.closeWindowsTitled("").windowsAsked, 0);
    closer.closeDocument("/tmp/folder/");
    EXPECT_TRUE(x_->askedToClose(0).empty());

    const XcbDocumentCloser::Report report = closer.closeWindowsTitled("Бюджет Q3.csv");
    EXPECT_TRUE(report.reachedDisplay);
    EXPECT_FALSE(report.throughWindowManager);
    EXPECT_EQ(report.windowsAsked, 2);
    std::set<xcb_window_t> asked = x_->askedToClose(document);
    if (asked.count(second) == 0) {
        asked.merge(x_->askedToClose(second));
    }
    EXPECT_EQ(asked, (std::set<xcb_window_t>{document, second}));
    // Hostile names match literally; the file name is taken from the path.
    closer.closeDocument("/tmp/" + hostile);
    EXPECT_EQ(x_->askedToClose(strange), std::set<xcb_window_t>{strange});
    for (xcb_window_t window : {other, stubborn, plain}) {
        EXPECT_TRUE(x_->exists(window)) << window;
    }
}

TEST(XcbDocumentCloser, UnreachableDisplayIsIgnored) {
    const XcbDocumentCloser::Report report = XcbDocumentCloser(":4095").closeWindowsTitled("Бюджет.csv");
    EXPECT_FALSE(report.reachedDisplay);
    EXPECT_EQ(report.windowsAsked, 0);
}

}  // namespace
}  // namespace tovak::trigger

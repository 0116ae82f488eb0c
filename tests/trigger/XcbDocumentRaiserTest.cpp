#include <gtest/gtest.h>

#include "support/XDisplay.h"
#include "trigger/linux/XcbDocumentRaiser.h"

namespace tovak::trigger {
namespace {

using testing::WithoutWindowManager;
using testing::WithWindowManager;
using testing::XDisplay;

TEST_F(WithWindowManager, RaisesTheDocumentWindowAndRestoresItWhenMinimised) {
    const xcb_window_t document = x_->window("Бюджет Q3.csv — LibreOffice Calc");
    const xcb_window_t other = x_->window("Отчёт.csv — LibreOffice Calc");
    ASSERT_TRUE(x_->managed());
    ASSERT_TRUE(XDisplay::waitUntil([&] { return x_->activeWindow() == other; }));
    XcbDocumentRaiser raiser(x_->name());
    EXPECT_FALSE(raiser.raiseWindowTitled("Бюджет Q4.csv"));
    EXPECT_TRUE(raiser.raiseDocument("/home/anna/Бюджет Q3.csv"));
    EXPECT_TRUE(XDisplay::waitUntil([&] { return x_->activeWindow() == document; }));

    x_->minimise(document);
    ASSERT_TRUE(XDisplay::waitUntil([&] { return x_->minimised(document) && x_->activeWindow() != document; }));
    EXPECT_TRUE(raiser.raiseWindowTitled("Бюджет Q3.csv"));
    EXPECT_TRUE(XDisplay::waitUntil([&] { return x_->activeWindow() == document && !x_->minimised(document); }));
}

TEST_F(WithoutWindowManager, StacksTheDocumentWindowOnTop) {
    const xcb_window_t document = x_->window("Бюджет Q3.csv — Calc", false);
    const xcb_window_t other = x_->window("Отчёт.csv — Calc");
    ASSERT_TRUE(XDisplay::waitUntil([&] { return x_->topmost() == other; }));
    XcbDocumentRaiser raiser(x_->name());
    EXPECT_FALSE(raiser.raiseWindowTitled(""));
    EXPECT_EQ(x_->topmost(), other);
    EXPECT_TRUE(raiser.raiseWindowTitled("Бюджет Q3.csv"));
    EXPECT_EQ(x_->topmost(), document);
    EXPECT_FALSE(XcbDocumentRaiser(":4095").raiseWindowTitled("Бюджет Q3.csv"));
}

}  // namespace
}  // namespace tovak::trigger

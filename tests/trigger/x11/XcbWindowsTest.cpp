#include <gtest/gtest.h>

#include "support/Fakes.h"
#include "support/XDisplay.h"
#include "trigger/RaisingWorkspace.h"
#include "trigger/x11/XcbDocumentCloser.h"
#include "trigger/x11/XcbDocumentRaiser.h"
#include "trigger/x11/XcbWindows.h"

namespace tovak::trigger {
namespace {

using testing::XDisplay;

TEST(XcbWithoutWindowManager, EachMatchingWindowGetsItsOwnDeleteMessageAndAnUnreachableDisplayIsIgnored) {
    XDisplay x11(false);
    ASSERT_TRUE(x11.ready()) << "Xvfb did not start";
    const std::string hostile = "-rf \"$(touch x)\"; `id` *.csv";
    const xcb_window_t other = x11.window("Бюджет Q4.csv — Calc");
    const xcb_window_t document = x11.window("Бюджет Q3.csv — Calc");
    const xcb_window_t second = x11.window("Бюджет Q3.csv (только чтение)", false);
    const xcb_window_t stubborn = x11.window("Бюджет Q3.csv — xterm", true, false);
    const xcb_window_t strange = x11.window(hostile + " — Calc");
    const xcb_window_t plain = x11.window("rf x_->csv — Calc");
    const XcbDocumentCloser::Report unreachable = XcbDocumentCloser(":4095").closeWindowsTitled("Бюджет.csv");
    EXPECT_FALSE(unreachable.reachedDisplay);
    EXPECT_EQ(unreachable.windowsAsked, 0);
    XcbDocumentCloser closer(x11.name());
    // Empty names match nothing.
    EXPECT_EQ(closer.closeWindowsTitled("").windowsAsked, 0);
    closer.closeDocument("/tmp/folder/");
    EXPECT_TRUE(x11.askedToClose({}).empty());

    const XcbDocumentCloser::Report report = closer.closeWindowsTitled("Бюджет Q3.csv");
    EXPECT_TRUE(report.reachedDisplay);
    EXPECT_FALSE(report.throughWindowManager);
    EXPECT_EQ(report.windowsAsked, 2);
    EXPECT_EQ(x11.askedToClose({document, second}), (std::set<xcb_window_t>{document, second}));
    // Hostile names match literally; the file name is taken from the path.
    closer.closeDocument("/tmp/" + hostile);
    EXPECT_EQ(x11.askedToClose({strange}), std::set<xcb_window_t>{strange});
    for (xcb_window_t window : {other, stubborn, plain}) {
        EXPECT_TRUE(x11.exists(window)) << window;
    }
}

TEST(XcbWithWindowManager, RaisesTheDocumentsWindowElseOpensTheFileAtMostOnceInFiveSecondsAndOnlyAsksWhatCanBeAsked) {
    XDisplay x11(true);
    ASSERT_TRUE(x11.ready()) << "Xvfb or openbox did not start";
    const xcb_window_t document = x11.window("Бюджет Q3.csv — LibreOffice Calc");
    const xcb_window_t other = x11.window("Отчёт.csv — LibreOffice Calc");
    ASSERT_TRUE(x11.managed());
    const std::unique_ptr<XcbWindows> x = XcbWindows::connect(x11.name());
    ASSERT_NE(x, nullptr);
    const auto active = [&](xcb_window_t window) {
        return x->hasWord(x->root(), x->atom(XcbWindows::kNetActiveWindow), XCB_ATOM_WINDOW, window);
    };
    const auto minimised = [&] {
        return x->hasWord(document, x->atom(XcbWindows::kNetWmState), XCB_ATOM_ATOM,
                          x->atom(XcbWindows::kNetWmStateHidden));
    };
    ASSERT_TRUE(XDisplay::waitUntil([&] { return active(other); }));
    testing::CallLog log;
    runtime::ManualSerialQueue queue;
    auto opener = std::make_shared<testing::FakeServices>(log, queue);
    auto clock = std::make_shared<runtime::ManualClock>();
    RaisingWorkspace workspace(std::make_shared<XcbDocumentRaiser>(x11.name()), opener, clock);
    EXPECT_TRUE(workspace.open("/home/anna/Бюджет Q3.csv"));
    EXPECT_TRUE(XDisplay::waitUntil([&] { return active(document); }));
    // Minimised as its application would ask (ICCCM WM_CHANGE_STATE, IconicState).
    x->send(x->root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, document,
            testing::atom(x->connection(), "WM_CHANGE_STATE"), {3, 0});
    x->sync();
    ASSERT_TRUE(XDisplay::waitUntil([&] { return minimised() && !active(document); }));
    EXPECT_TRUE(workspace.open("/home/anna/Бюджет Q3.csv"));
    EXPECT_TRUE(XDisplay::waitUntil([&] { return active(document) && !minimised(); }));
    EXPECT_FALSE(XcbDocumentRaiser(":4095").raiseDocument("/home/anna/Бюджет Q3.csv"));
    EXPECT_TRUE(log.entries().empty());

    const struct Row {
        const char* name;
        double at;
        const char* path;
        bool openerAccepts;
        std::size_t opens;  // open requests so far
    } rows[] = {
        {"no window shows it: the opener opens it", 1000.0, "/d/Бюджет Q4.csv", true, 1},
        {"4.999 s later that open still counts", 1004.999, "/d/Бюджет Q4.csv", true, 1},
        {"5 s later it is opened again", 1005.0, "/d/Бюджет Q4.csv", true, 2},
        {"another file is opened at once", 1005.5, "/d/b.csv", true, 3},
        {"a refusal is reported", 1006.0, "/d/c.csv", false, 4},
        {"and holds back no next try", 1006.5, "/d/c.csv", true, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        clock->set(row.at);
        opener->openAccepted = row.openerAccepts;
        EXPECT_EQ(workspace.open(row.path), row.openerAccepts);
        EXPECT_EQ(log.entries().size(), row.opens);
    }

    // The closer asks only the document window that can be asked.
    const xcb_window_t stubborn = x11.window("Бюджет Q3.csv — xterm", true, false);  // could only be killed
    ASSERT_TRUE(x11.managed());
    const XcbDocumentCloser::Report report = XcbDocumentCloser(x11.name()).closeWindowsTitled("Бюджет Q3.csv");
    EXPECT_TRUE(report.reachedDisplay);
    EXPECT_TRUE(report.throughWindowManager);
    EXPECT_EQ(report.windowsAsked, 1);
    EXPECT_EQ(x11.askedToClose({document}), std::set<xcb_window_t>{document});
    EXPECT_TRUE(x11.exists(other) && x11.exists(stubborn));
}

}  // namespace
}  // namespace tovak::trigger

#include <gtest/gtest.h>

#include "support/Fakes.h"
#include "trigger/RaisingWorkspace.h"

namespace tovak::trigger {
namespace {

struct FakeRaiser final : DocumentRaiser {
    bool windowOpen = false;
    bool raiseDocument(const std::string&) override { return windowOpen; }
};

TEST(RaisingWorkspace, RaisesAnOpenWindowElseOpensTheFileAtMostOnceInFiveSeconds) {
    testing::CallLog log;
    auto opener = std::make_shared<testing::FakeWorkspace>(log);
    auto raiser = std::make_shared<FakeRaiser>();
    auto clock = std::make_shared<runtime::ManualClock>();
    RaisingWorkspace workspace(raiser, opener, clock);
    struct Row {
        const char* name;
        double at;
        const char* path;
        bool windowOpen;
        bool openerAccepts;
        bool answer;
        std::size_t opens;  // all open requests so far
    };
    const Row rows[] = {
        {"no window: the opener opens it", 1000.0, "/d/a.csv", false, true, true, 1},
        {"2 s later the first open still counts", 1002.0, "/d/a.csv", false, true, true, 1},
        {"so it does 4.999 s later", 1004.999, "/d/a.csv", false, true, true, 1},
        {"5 s later it is opened again", 1005.0, "/d/a.csv", false, true, true, 2},
        {"a window of it is raised instead", 1006.0, "/d/a.csv", true, true, true, 2},
        {"another file is opened at once", 1006.5, "/d/b.csv", false, true, true, 3},
        {"a refusal is reported", 1007.0, "/d/c.csv", false, false, false, 4},
        {"and does not hold back the next try", 1007.5, "/d/c.csv", false, true, true, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        clock->set(row.at);
        raiser->windowOpen = row.windowOpen;
        opener->accept = row.openerAccepts;
        EXPECT_EQ(workspace.open(row.path), row.answer);
        EXPECT_EQ(log.entries().size(), row.opens);
    }

    // Where the opener raises an open document itself, every request goes to it.
    RaisingWorkspace plain(nullptr, opener, clock);
    EXPECT_TRUE(plain.open("/d/c.csv"));
    EXPECT_TRUE(plain.open("/d/c.csv"));
    EXPECT_EQ(log.count("open:/d/c.csv"), 4U);
}

}  // namespace
}  // namespace tovak::trigger

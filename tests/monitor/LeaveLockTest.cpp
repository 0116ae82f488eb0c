// The lock when the user leaves: counted from away mode switching itself on with nobody in the
// picture, cancelled by a face that stays three frames, never set off by "Отошёл"; off by default
// and kept in the settings.
#include <gtest/gtest.h>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;

TEST(LeaveLockTest, LocksAtTheChosenDelayAfterAwayCameByItselfUnlessAFaceCameBackFirst) {
    enum class Then { nothing, faceBack, facesBack, strayFace, pressedBackAndAway, stopped, pressedAwayFirst };
    const struct Row {
        const char* name;
        std::optional<double> seconds;
        Then then;
        int leaveLocks;
        int locks;  // the visitor's lock included
    } rows[] = {
        {"off by default", std::nullopt, Then::nothing, 0, 0},
        {"at once", 0.0, Then::nothing, 1, 1},
        {"after 30 s", 30.0, Then::nothing, 1, 1},
        {"after 2 min", 120.0, Then::nothing, 1, 1},
        {"a face back for three frames: the visitor's lock, not this one", 30.0, Then::faceBack, 0, 1},
        {"two faces back for three frames cancel it", 30.0, Then::facesBack, 0, 0},
        {"a face in one frame does not", 120.0, Then::strayFace, 1, 1},
        {"\"На месте\", then \"Отошёл\" cancel it", 30.0, Then::pressedBackAndAway, 0, 0},
        {"\"Стоп\" cancels it", 30.0, Then::stopped, 0, 0},
        {"away mode switched on by \"Отошёл\" sets none", 30.0, Then::pressedAwayFirst, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MonitorHarness h;
        if (row.seconds) {
            h.monitor->setLockOnLeave(row.seconds);
        }
        h.start();
        if (row.then == Then::pressedAwayFirst) {
            h.setAway(true);
        }
        while (!h.monitor->awayMode.get()) {
            h.frame({}, 0.5);  // on by itself after ten seconds without a face
        }
        const double delay = row.seconds.value_or(30), due = h.sim.clock.now() + delay;
        h.sim.advance(delay / 2);
        if (row.then == Then::faceBack || row.then == Then::facesBack || row.then == Then::strayFace) {
            h.frames(row.then == Then::strayFace ? 1 : 3, row.then == Then::facesBack ? h.two : h.one, 0.1);
            h.frames(15, {}, 0.1);
        } else if (row.then == Then::pressedBackAndAway) {
            h.setAway(false);
            h.setAway(true);
        } else if (row.then == Then::stopped) {
            h.stop();
        }
        h.sim.advance(std::max(0.0, due - 0.01 - h.sim.clock.now()));
        EXPECT_EQ(h.observer->leaveLocks, delay > 0 ? 0 : row.leaveLocks);
        h.sim.advance(0.02);
        EXPECT_EQ(h.observer->leaveLocks, row.leaveLocks);
        h.sim.advance(300);
        EXPECT_EQ(h.observer->leaveLocks, row.leaveLocks);
        EXPECT_EQ(h.services->locks, row.locks);
        EXPECT_TRUE(h.nothingScheduled());
    }
}

TEST(LeaveLockTest, TheChoiceIsKeptInTheSettingsAndADamagedOneIsSaid) {
    MonitorHarness h;
    h.monitor->setLockOnLeave(30.0);
    EXPECT_EQ(h.services->string("tovak.lockOnLeaveSeconds"), "30");
    MonitorHarness second([&](monitor::Ports& deps) { deps.settings = h.services; });
    EXPECT_EQ(second.monitor->lockOnLeaveSeconds.get(), 30.0);
    second.monitor->setLockOnLeave(std::nullopt);
    EXPECT_FALSE(h.services->string("tovak.lockOnLeaveSeconds"));
    for (const char* damaged : {"soon", "-1", "3601", "nan", "30s", ""}) {
        SCOPED_TRACE(damaged);
        h.services->setString("tovak.lockOnLeaveSeconds", damaged);
        MonitorHarness third([&](monitor::Ports& deps) { deps.settings = h.services; });
        EXPECT_EQ(third.status(), "Настройка блокировки при уходе повреждена");
        EXPECT_FALSE(third.monitor->lockOnLeaveSeconds.get());
    }
}

// Counting a presence over frames: confirmed on the third frame that shows it, ended on the
// fifteenth that does not, as the onlooker and the away-mode visitor both count.
#include <gtest/gtest.h>

#include <string>

#include "monitor/PresenceCounter.h"

namespace tovak::monitor {
namespace {

// Steps: 's' a frame that shows them, 'm' one that does not, 'r' a reset. What each step gives:
// '.' nothing, 'C' confirmed, 'E' ended; a reset gives 'T' when a presence was active, else 'F'.
std::string run(const std::string& steps) {
    PresenceCounter counter(3, 15);
    std::string out;
    for (const char step : steps) {
        if (step == 'r') {
            out += counter.reset() ? 'T' : 'F';
            continue;
        }
        switch (step == 's' ? counter.seen() : counter.missed()) {
            case PresenceCounter::Change::none:
                out += '.';
                break;
            case PresenceCounter::Change::confirmed:
                out += 'C';
                break;
            case PresenceCounter::Change::ended:
                out += 'E';
                break;
        }
    }
    return out;
}

std::string times(int n, char c) {
    return std::string(static_cast<std::size_t>(n), c);
}

TEST(PresenceCounter, ConfirmsOnTheThirdFrameAndEndsOnTheFifteenthMiss) {
    const std::string confirmed = "sss";
    struct Row {
        const char* name;
        std::string steps;
        std::string expected;
    };
    const Row rows[] = {
        {"the third frame in a row confirms", "sss", "..C"},
        {"a miss starts the run again", "ssmsss", ".....C"},
        {"confirmed once while it lasts", "ssssss", "..C..."},
        {"the fourteenth miss does not end it, the fifteenth does", confirmed + times(15, 'm'),
         "..C" + times(14, '.') + "E"},
        {"a frame that shows them forgets a run of misses", confirmed + times(14, 'm') + "s" + times(15, 'm'),
         "..C" + times(29, '.') + "E"},
        {"misses end nothing that was not confirmed", times(20, 'm'), times(20, '.')},
        {"after an end three new frames confirm again", confirmed + times(15, 'm') + "sss",
         "..C" + times(14, '.') + "E..C"},
        {"a reset says whether it was active", "ssrsssr", "..F..CT"},
        {"a reset during misses leaves nothing to end", confirmed + times(10, 'm') + "r" + times(15, 'm'),
         "..C" + times(10, '.') + "T" + times(15, '.')},
        {"a reset forgets the run of frames", "ssrss", "..F.."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(run(row.steps), row.expected);
    }
}

}  // namespace
}  // namespace tovak::monitor

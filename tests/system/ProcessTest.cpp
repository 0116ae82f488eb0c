#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "system/Process.h"

namespace tovak::system {
namespace {

TEST(Tools, SuccessIsExitStatusZeroWithinTheDeadlineAndArgumentsArriveVerbatim) {
    testing::TempDir folder("tovak-tools");
    EXPECT_TRUE(runToolAndWait(folder.script("ok", "exit 0"), {}, 10.0));
    EXPECT_FALSE(runToolAndWait(folder.script("no", "exit 1"), {}, 10.0));
    EXPECT_FALSE(runToolAndWait(folder.script("killed", "kill -9 $$"), {}, 10.0));
    EXPECT_FALSE(runToolAndWait(folder.script("slow", "sleep 30"), {}, 0.2));
    EXPECT_FALSE(runToolAndWait(folder / "missing", {}, 10.0));
    const std::string tool =
        folder.script("check", "[ \"$#\" = 2 ] && [ \"$1\" = '-suspend' ] && [ \"$2\" = '$(x) \"; *' ]");
    EXPECT_TRUE(runToolAndWait(tool, {"-suspend", "$(x) \"; *"}, 10.0));
    EXPECT_FALSE(runToolAndWait(tool, {"-suspend"}, 10.0));
}

}  // namespace
}  // namespace tovak::system

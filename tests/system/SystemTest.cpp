// The tool runner, the automation warm-up, the data folder and the JSON reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "runtime/Simulation.h"
#include "support/RecordingRunner.h"
#include "support/TempDir.h"
#include "system/AutomationWarmup.h"
#include "system/DataDirectory.h"
#include "system/Json.h"
#include "system/Process.h"

namespace tovak::system {
namespace {

using testing::RecordingRunner;

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

TEST(AutomationWarmup, FourProbesAtTheirOffsetsInTableOrderOncePerProcess) {
    runtime::Simulation sim;
    auto runner = std::make_shared<RecordingRunner>(sim.clock, false);
    AutomationWarmup warmup;
    // Where no script can run there is no consent to ask for: nothing is scheduled, now or later.
    warmup.scheduleAfterWindowShown(sim.main, std::make_shared<UnavailableScriptRunner>());
    warmup.scheduleAfterWindowShown(sim.main, nullptr);
    EXPECT_EQ(sim.main.pendingDelayed(), 0u);
    EXPECT_FALSE(warmup.didScheduleThisSession());
    warmup.scheduleAfterWindowShown(sim.main, runner);
    warmup.scheduleAfterWindowShown(sim.main, runner);  // a second call schedules nothing
    EXPECT_TRUE(runner->scripts.empty()) << "scheduling returns before any probe";
    EXPECT_EQ(sim.main.pendingDelayed(), 4u);
    sim.advance(10.0);
    warmup.scheduleAfterWindowShown(sim.main, runner);  // nor one after the probes failed
    EXPECT_EQ(sim.main.pendingDelayed(), 0u);
    EXPECT_TRUE(warmup.didScheduleThisSession());
    ASSERT_EQ(
        runner->scripts,
        (std::vector<std::string>{
            "tell application \"System Events\"\n    return (count of processes) as string\nend tell",
            "tell application \"TextEdit\"\n    name\nend tell", "tell application \"Numbers\"\n    name\nend tell",
            "tell application \"Microsoft Excel\"\n    name\nend tell"}));
    const double offsets[] = {0.8, 2.1, 3.4, 4.7};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(runner->times[i], offsets[i], 1e-9) << i;
    }
}

TEST(DataDirectory, OneFolderServesEverythingAndOnlyRegularFilesAreResources) {
    namespace fs = std::filesystem;
    const std::string build = fs::weakly_canonical(fs::path(TOVAK_BUILD_DIR) / "share/tovak").string();
    ASSERT_EQ(findDataDirectory(), build);
    EXPECT_EQ(DataDirectoryResources().pathForResource("DefaultTrigger", "csv"), build + "/DefaultTrigger.csv");

    // $TOVAK_DATA_DIR serves the model, the demo and the decoy alike: the build tree's decoy is not
    // taken from beside it.
    testing::TempDir data("tovak-data");
    data.write("models/readme.txt", "");
    data.write("Folder.csv/readme.txt", "");
    ::setenv("TOVAK_DATA_DIR", data.path().c_str(), 1);
    const std::string chosen = fs::weakly_canonical(data.path()).string();
    EXPECT_EQ(findDataDirectory(), chosen);
    EXPECT_EQ(dataFile("demo"), chosen + "/demo");
    EXPECT_EQ(DataDirectoryResources().pathForResource("DefaultTrigger", "csv"), std::nullopt);
    data.write("DefaultTrigger.csv", "a;b\n");
    EXPECT_EQ(DataDirectoryResources().pathForResource("DefaultTrigger", "csv"), chosen + "/DefaultTrigger.csv");
    EXPECT_EQ(DataDirectoryResources().pathForResource("Folder", "csv"), std::nullopt) << "a folder is no resource";
    EXPECT_EQ(DataDirectoryResources().pathForResource("../tovak-data/DefaultTrigger", "csv"), std::nullopt);
    // A variable naming no folder is ignored as a whole.
    ::setenv("TOVAK_DATA_DIR", (data / "missing").c_str(), 1);
    EXPECT_EQ(findDataDirectory(), build);
    ::unsetenv("TOVAK_DATA_DIR");

    // Installed, the default document lies in share/tovak under the prefix.
    testing::TempDir prefix("tovak-install");
    ASSERT_TRUE(runToolAndWait(
        TOVAK_CMAKE_COMMAND,
        {"--install", TOVAK_BUILD_DIR, "--prefix", prefix.path().string(), "--component", "resources"}, 120.0));
    EXPECT_EQ(DataDirectoryResources(prefix / "share/tovak").pathForResource("DefaultTrigger", "csv"),
              prefix / "share/tovak/DefaultTrigger.csv");
}

// What sway answers and the journal holds is read strictly, and nothing that is not UTF-8 comes out.
TEST(JsonTest, OnlyStrictJsonIsReadAndOnlyUtf8IsWritten) {
    for (const std::string& text :
         std::vector<std::string>{R"(["\u-001"])", R"(["\u 41a"])", "+1", "01", R"(["\ud800"])", "[\"\xff\"]", "1e400",
                                  "[1] // note", "{} {", std::string(66, '[') + std::string(66, ']')}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(Json::parse(text));
    }
    EXPECT_TRUE(Json::parse(std::string(65, '[') + std::string(65, ']'))) << "65 deep is read";
    EXPECT_EQ((*Json::parse(R"({"a": ["\ud83d\ude00"]})"))["a"].items().at(0).text(), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Json::quote("\xff\"\x01\t"), "\"\xEF\xBF\xBD\\\"\\u0001\\t\"");
}

}  // namespace
}  // namespace tovak::system

// The script closer through a stand-in osascript that records the arguments it was given.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/TempDir.h"
#include "system/ScriptRunner.h"
#include "trigger/CloseScript.h"
#include "trigger/ScriptDocumentCloser.h"

namespace tovak::trigger {
namespace {

namespace fs = std::filesystem;

// What the stand-in was given, one argument each.
std::vector<std::string> argumentsIn(const std::string& record) {
    std::stringstream buffer;
    buffer << std::ifstream(record, std::ios::binary).rdbuf();
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(buffer, argument, '\0');) {
        arguments.push_back(argument);
    }
    return arguments;
}

TEST(ScriptDocumentCloser, TheScriptReachesTheToolAsOneArgumentAfterDashEAndNoShell) {
    testing::TempDir folder("tovak-osascript");
    const std::string tool =
        folder.script("osascript", "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + (folder / "argv") + "'");
    const std::string marker = folder / "pwned";
    const std::string hostile =
        "-e \"; touch " + marker + "; $(touch " + marker + ") `touch " + marker + "` \\\"\n| & >x.csv";
    for (const std::string& path : {std::string("/home/anna/Бюджет.csv"), hostile}) {
        ScriptDocumentCloser(std::make_shared<system::OsascriptRunner>(tool, 10.0)).closeDocument(path);
        EXPECT_EQ(argumentsIn(folder / "argv"), (std::vector<std::string>{"-e", closeDocumentScript(path)}));
    }
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_FALSE(fs::exists(fs::current_path() / "x.csv"));

    // A missing or non-executable tool fails without running.
    fs::remove(folder / "argv");
    EXPECT_FALSE(system::OsascriptRunner(folder / "absent", 10.0).run("return 1"));
    fs::permissions(tool, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(system::OsascriptRunner(tool, 10.0).run("return 1"));
    EXPECT_FALSE(fs::exists(folder / "argv"));
}

}  // namespace
}  // namespace tovak::trigger

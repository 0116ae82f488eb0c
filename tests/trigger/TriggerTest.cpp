// The close script, and the script closer through a stand-in osascript that records its arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "support/TempDir.h"
#include "system/Process.h"
#include "system/ScriptRunner.h"
#include "trigger/CloseScript.h"
#include "trigger/ScriptDocumentCloser.h"

namespace tovak::trigger {
namespace {

namespace fs = std::filesystem;

// Each application is asked alike: only when it is running, and each document whose file is the path closes unsaved.
std::string tell(const std::string& app, const std::string& loop, const std::string& path, const std::string& item) {
    const std::string indent(16, ' ');
    return "\ntell application \"" + app + "\"\n    if it is running then\n        repeat with " + loop +
           "\n            try\n" + indent + path + "\n" + indent + "if p is equal to targetPOSIX then close " + item +
           " saving no\n            end try\n        end repeat\n    end if\nend tell";
}

const std::string kExpectedTail =
    "\"" +
    tell("Microsoft Excel", "i from (count of workbooks) to 1 by -1",
         "set wb to workbook i\n                set p to POSIX path of (full name of wb as alias)", "wb") +
    tell("Numbers", "doc in documents", "set p to POSIX path of (document file of doc as alias)", "doc") +
    tell("TextEdit", "doc in documents", "set p to path of doc", "doc");

TEST(CloseScript, FixedTextThenThePathBetweenTheQuotesOfTheFirstLineBackslashesDoubledFirstThenQuotesEscaped) {
    EXPECT_EQ(std::string(closeDocumentScriptTail), kExpectedTail);
    const std::pair<std::string, std::string> cases[] = {
        {"/Users/anna/Documents/Бюджет Q3.xlsx", "/Users/anna/Documents/Бюджет Q3.xlsx"},
        {"/tmp/a\"b.csv", "/tmp/a\\\"b.csv"},
        {"/tmp/a\\b.csv", "/tmp/a\\\\b.csv"},
        {"x\\\"y", "x\\\\\\\"y"},  // a backslash before a quote: three backslashes and the quote
        {"/tmp/-rf $(id) `x` ; | & * 'q' ~ \n\t.csv", "/tmp/-rf $(id) `x` ; | & * 'q' ~ \n\t.csv"},
        // A hostile name cannot close the string early, and its trailing backslash cannot swallow the quote.
        {"/tmp/x\"\ndo shell script \"rm -rf ~\" --\\", "/tmp/x\\\"\ndo shell script \\\"rm -rf ~\\\" --\\\\"},
    };
    for (const auto& [path, escaped] : cases) {
        EXPECT_EQ(escapeForAppleScriptString(path), escaped) << path;
        EXPECT_EQ(closeDocumentScript(path), "set targetPOSIX to \"" + escaped + kExpectedTail) << path;
    }
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
        // Each argument ends with a zero byte.
        EXPECT_EQ(folder.read("argv"), std::string("-e\0", 3) + closeDocumentScript(path) + '\0');
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

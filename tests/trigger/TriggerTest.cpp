// The close script, the script closer through a stand-in osascript that records its arguments,
// and when the trigger document is opened.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "runtime/Simulation.h"
#include "support/TempDir.h"
#include "system/Process.h"
#include "system/ScriptRunner.h"
#include "trigger/CloseScript.h"
#include "trigger/RaisingWorkspace.h"
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

// A desktop whose windows the test sets, counting what it is asked.
class ScriptedWindows final : public WindowControl {
  public:
    std::optional<int> windows;
    Outcome raise = Outcome::done;
    Outcome close = Outcome::done;
    int raises = 0;
    int closes = 0;

    [[nodiscard]] std::string name() const override { return "scripted"; }
    [[nodiscard]] std::optional<int> countWindowsTitled(const std::string& fileName) override {
        EXPECT_EQ(fileName, "Бюджет Q3.csv");
        return windows;
    }
    Outcome raiseWindowsTitled(const std::string&) override { return ++raises, raise; }
    Outcome closeWindowsTitled(const std::string&) override { return ++closes, close; }
    Outcome placePanel(const std::string&, const DesktopRect&) override { return Outcome::unsupported; }
    [[nodiscard]] std::optional<DesktopRect> activeScreen() override { return std::nullopt; }
};

class CountingOpener final : public monitor::Workspace {
  public:
    bool accepts = true;
    int opens = 0;
    bool open(const std::string& path) override {
        EXPECT_EQ(path, "/home/anna/Бюджет Q3.csv");
        return ++opens, accepts;
    }
};

TEST(RaisingWorkspace, OpensTheDocumentOnlyWhenNoWindowOfItCanBeSeenAndAtMostOncePerEpisodeOtherwise) {
    constexpr std::optional<int> cannotSee = std::nullopt;
    // o: the monitor brings the document forward (at the confirmation, then every 2 s); c: the
    // onlooker has gone and the document is closed, which ends the episode.
    struct Step {
        std::optional<int> windows;
        char call;
    };
    const struct Row {
        const char* name;
        std::vector<Step> steps;
        bool openerAccepts;
        int opens;
        int raises;
        std::vector<std::string> notices;
    } rows[] = {
        {"a window shows it: raised every time, never opened",
         {{1, 'o'}, {1, 'o'}, {1, 'c'}, {2, 'o'}},
         true,
         0,
         3,
         {}},
        {"none seen: opened once, then left to come up", {{0, 'o'}, {0, 'o'}, {0, 'o'}, {0, 'o'}}, true, 1, 0, {}},
        {"none seen: the next episode opens it again",
         {{0, 'o'}, {0, 'o'}, {0, 'c'}, {0, 'o'}, {0, 'o'}},
         true,
         2,
         0,
         {}},
        {"its window came and the user closed it: opened again",
         {{0, 'o'}, {1, 'o'}, {0, 'o'}, {0, 'o'}},
         true,
         2,
         1,
         {}},
        {"windows cannot be seen: once per episode, said once",
         {{cannotSee, 'o'}, {cannotSee, 'o'}, {cannotSee, 'c'}, {cannotSee, 'o'}, {cannotSee, 'o'}},
         true,
         2,
         0,
         {"Файл не выводится вперёд на этом рабочем столе"}},
        {"a refusal is said and holds back no next try",
         {{0, 'o'}, {0, 'o'}},
         false,
         2,
         0,
         {"Файл не открылся", "Файл не открылся"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto windows = std::make_shared<ScriptedWindows>();
        auto opener = std::make_shared<CountingOpener>();
        opener->accepts = row.openerAccepts;
        auto worker = std::make_shared<runtime::ManualSerialQueue>();
        auto main = std::make_shared<runtime::ManualSerialQueue>();
        std::vector<std::string> notices;
        auto documents = RaisingWorkspace::create(windows, opener, worker, main,
                                                  [&](const std::string& text) { notices.push_back(text); });
        for (const Step& step : row.steps) {
            windows->windows = step.windows;
            if (step.call == 'o') {
                EXPECT_TRUE(documents->open("/home/anna/Бюджет Q3.csv"));
            } else {
                documents->closeDocument("/home/anna/Бюджет Q3.csv");
            }
            while (worker->runAll() + main->runAll() > 0) {
            }
        }
        EXPECT_EQ(opener->opens, row.opens);
        EXPECT_EQ(windows->raises, row.raises);
        EXPECT_EQ(notices, row.notices);
    }
}

// An opener whose answer comes when the test gives it, as the desktop's opener answers after the run.
class LateOpener final : public monitor::Workspace {
  public:
    std::vector<Outcome> asked;
    bool open(const std::string&) override { return ADD_FAILURE() << "asked to wait for the opener", false; }
    void openThen(const std::string&, Outcome outcome) override { asked.push_back(std::move(outcome)); }
};

TEST(RaisingWorkspace, ALateRefusalIsSaidOncePerAttemptAndOnlyThenIsTheDocumentOpenedAgain) {
    auto windows = std::make_shared<ScriptedWindows>();
    windows->windows = 0;
    auto opener = std::make_shared<LateOpener>();
    auto worker = std::make_shared<runtime::ManualSerialQueue>();
    auto main = std::make_shared<runtime::ManualSerialQueue>();
    std::vector<std::string> notices;
    auto documents = RaisingWorkspace::create(windows, opener, worker, main,
                                              [&](const std::string& text) { notices.push_back(text); });
    const auto bringForward = [&] {
        documents->open("/home/anna/Бюджет Q3.csv");
        while (worker->runAll() + main->runAll() > 0) {
        }
    };
    const auto answer = [&](std::size_t attempt, bool opened) {
        opener->asked.at(attempt)(opened);
        while (worker->runAll() + main->runAll() > 0) {
        }
    };
    bringForward();
    bringForward();  // the opener has not answered: still on its way, not asked twice
    ASSERT_EQ(opener->asked.size(), 1U);
    EXPECT_TRUE(notices.empty());
    answer(0, false);
    EXPECT_EQ(notices, std::vector<std::string>{"Файл не открылся"});
    bringForward();
    bringForward();
    ASSERT_EQ(opener->asked.size(), 2U);
    answer(1, true);
    bringForward();
    EXPECT_EQ(opener->asked.size(), 2U);
    EXPECT_EQ(notices, std::vector<std::string>{"Файл не открылся"});
}

TEST(RaisingWorkspace, SaysOnceWhenThisDesktopCannotRaiseOrCloseAndClosesAtEveryEpisodeEnd) {
    auto windows = std::make_shared<ScriptedWindows>();
    windows->windows = 1;
    windows->raise = WindowControl::Outcome::unsupported;
    windows->close = WindowControl::Outcome::unsupported;
    auto worker = std::make_shared<runtime::ManualSerialQueue>();
    auto main = std::make_shared<runtime::ManualSerialQueue>();
    std::vector<std::string> notices;
    auto documents = RaisingWorkspace::create(windows, std::make_shared<CountingOpener>(), worker, main,
                                              [&](const std::string& text) { notices.push_back(text); });
    for (int episode = 0; episode < 2; ++episode) {
        documents->open("/home/anna/Бюджет Q3.csv");
        documents->open("/home/anna/Бюджет Q3.csv");
        documents->closeDocument("/home/anna/Бюджет Q3.csv");
    }
    // Nothing is asked of the desktop on the caller's thread.
    EXPECT_EQ(windows->raises + windows->closes, 0);
    while (worker->runAll() + main->runAll() > 0) {
    }
    EXPECT_EQ(windows->raises, 4);
    EXPECT_EQ(windows->closes, 2);
    EXPECT_EQ(notices, (std::vector<std::string>{"Файл не выводится вперёд на этом рабочем столе",
                                                 "Файл не закрывается на этом рабочем столе"}));
}

}  // namespace
}  // namespace tovak::trigger

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "system/ScriptRunner.h"
#include "trigger/CloseScript.h"
#include "trigger/ScriptDocumentCloser.h"

namespace tovak::trigger {
namespace {

namespace fs = std::filesystem;

// A stand-in for osascript that records the arguments it was given, NUL-separated.
class RecordingTool : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tovak-osascript-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        tool_ = folder_ / "osascript";
        record_ = folder_ / "argv";
        std::ofstream(tool_) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" << record_.string()
                             << "'\nexit " << exitStatus_ << "\n";
        fs::permissions(tool_, fs::perms::owner_all);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::vector<std::string> recordedArguments() const {
        std::ifstream in(record_, std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        std::vector<std::string> arguments;
        std::string all = buffer.str();
        std::size_t start = 0;
        for (std::size_t end = all.find('\0'); end != std::string::npos; end = all.find('\0', start)) {
            arguments.push_back(all.substr(start, end - start));
            start = end + 1;
        }
        return arguments;
    }

    int exitStatus_ = 0;
    fs::path folder_;
    fs::path tool_;
    fs::path record_;
};

TEST_F(RecordingTool, ScriptReachesTheToolAsOneArgumentAfterDashE) {
    auto runner = std::make_shared<system::OsascriptRunner>(tool_.string(), 10.0);
    ScriptDocumentCloser closer(runner);
    closer.closeDocument("/home/anna/Бюджет.csv");
    EXPECT_EQ(recordedArguments(), (std::vector<std::string>{"-e", closeDocumentScript("/home/anna/Бюджет.csv")}));
}

TEST_F(RecordingTool, HostilePathReachesNoShell) {
    const fs::path marker = folder_ / "pwned";
    const std::string path = "-e \"; touch " + marker.string() + "; $(touch " + marker.string() + ") `touch " +
                             marker.string() + "` \\\"\n| & >x.csv";
    auto runner = std::make_shared<system::OsascriptRunner>(tool_.string(), 10.0);
    ScriptDocumentCloser(runner).closeDocument(path);
    std::vector<std::string> arguments = recordedArguments();
    ASSERT_EQ(arguments.size(), 2u);
    EXPECT_EQ(arguments[0], "-e");
    EXPECT_EQ(arguments[1], closeDocumentScript(path));
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_FALSE(fs::exists(fs::current_path() / "x.csv"));
}

TEST_F(RecordingTool, MissingOrNonExecutableToolFailsWithoutRunning) {
    EXPECT_FALSE(system::OsascriptRunner((folder_ / "absent").string(), 10.0).run("return 1"));
    fs::permissions(tool_, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(system::OsascriptRunner(tool_.string(), 10.0).run("return 1"));
    EXPECT_FALSE(fs::exists(record_));
}

}  // namespace
}  // namespace tovak::trigger

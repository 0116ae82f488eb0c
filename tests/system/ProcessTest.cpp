#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "system/Process.h"

namespace tovak::system {
namespace {

namespace fs = std::filesystem;

class Tools : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tovak-tools-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::string script(const std::string& name, const std::string& body) {
        const fs::path path = folder_ / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }
    fs::path folder_;
};

TEST_F(Tools, SuccessIsExitStatusZeroOnly) {
    EXPECT_TRUE(runToolAndWait(script("ok", "exit 0"), {}, 10.0));
    EXPECT_FALSE(runToolAndWait(script("no", "exit 1"), {}, 10.0));
    EXPECT_FALSE(runToolAndWait(script("killed", "kill -9 $$"), {}, 10.0));
}

TEST_F(Tools, ArgumentsArriveVerbatim) {
    const std::string tool = script("check", "[ \"$#\" = 2 ] && [ \"$1\" = '-suspend' ] && [ \"$2\" = '$(x) \"; *' ]");
    EXPECT_TRUE(runToolAndWait(tool, {"-suspend", "$(x) \"; *"}, 10.0));
    EXPECT_FALSE(runToolAndWait(tool, {"-suspend"}, 10.0));
}

TEST_F(Tools, ToolStillRunningAtTheDeadlineIsAFailure) {
    EXPECT_FALSE(runToolAndWait(script("slow", "sleep 30"), {}, 0.2));
}

}  // namespace
}  // namespace tovak::system

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "system/Process.h"
#include "trigger/BundledResources.h"

namespace tovak::trigger {
namespace {

namespace fs = std::filesystem;

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

TEST(BundledResources, SearchesShareTovakAboveTheExecutableNearestFirst) {
    EXPECT_EQ(resourceFoldersAbove("/opt/tovak/bin"),
              (std::vector<std::string>{"/opt/tovak/bin/share/tovak", "/opt/tovak/share/tovak", "/opt/share/tovak",
                                        "/share/tovak"}));
    const std::vector<std::string> untidy = resourceFoldersAbove("/opt/tovak/bin/../lib/");
    ASSERT_GE(untidy.size(), 2u);
    EXPECT_EQ(untidy[0], "/opt/tovak/lib/share/tovak");
    EXPECT_EQ(untidy[1], "/opt/tovak/share/tovak");
}

TEST(BundledResources, FindsTheDefaultDocumentFromThisTestInTheBuildTree) {
    BundledResources resources;
    std::optional<std::string> path = resources.pathForResource("DefaultTrigger", "csv");
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(fs::path(*path).filename(), "DefaultTrigger.csv");
    EXPECT_EQ(fs::path(*path).parent_path(), fs::path(TOVAK_BUILD_DIR) / "share" / "tovak");
    EXPECT_TRUE(firstLine(*path).starts_with("Статья;"));
}

TEST(BundledResources, FoundNextToTheInstalledProgram) {
    const fs::path prefix = fs::temp_directory_path() / ("tovak-install-" + std::to_string(::getpid()));
    fs::remove_all(prefix);
    ASSERT_TRUE(system::runToolAndWait(
        TOVAK_CMAKE_COMMAND, {"--install", TOVAK_BUILD_DIR, "--prefix", prefix.string(), "--component", "resources"},
        120.0));
    BundledResources installed(resourceFoldersAbove((prefix / "bin").string()));
    std::optional<std::string> path = installed.pathForResource("DefaultTrigger", "csv");
    fs::remove_all(prefix);
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(*path, (prefix / "share" / "tovak" / "DefaultTrigger.csv").string());
}

}  // namespace
}  // namespace tovak::trigger

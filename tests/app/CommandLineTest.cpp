#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

#include "app/CommandLine.h"

namespace tovak::testing {
namespace {

using app::parseCommandLine;

TEST(CommandLineTest, OptionsWithValuesAfterASpaceOrAnEqualsSignAndTheDefaults) {
    const struct Row {
        std::vector<std::string> arguments;
        bool headless;
        std::optional<std::string> camera;
        bool dryRun;
        std::optional<double> maxSeconds;
    } rows[] = {
        {{"--headless", "--camera", "demo", "--lock", "dry-run", "--max-seconds", "12.5"}, true, "demo", true, 12.5},
        {{"--camera=/tmp/a clip.mp4", "--lock=dry-run", "--max-seconds=3"}, false, "/tmp/a clip.mp4", true, 3.0},
        {{}, false, std::nullopt, false, std::nullopt},  // the camera, the window and a real lock
    };
    for (const Row& row : rows) {
        const auto parsed = parseCommandLine(row.arguments);
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_EQ(parsed.options->headless, row.headless);
        EXPECT_EQ(parsed.options->camera, row.camera);
        EXPECT_EQ(parsed.options->lockDryRun, row.dryRun);
        EXPECT_EQ(parsed.options->maxSeconds, row.maxSeconds);
        EXPECT_FALSE(parsed.options->realtime);
        EXPECT_FALSE(parsed.options->detectEveryFrame);
        EXPECT_EQ(parsed.options->detector, app::DetectorBackend::onednn);
    }
}

TEST(CommandLineTest, ACameraIsTheDemoAFileADeviceOrAName) {
    const struct Row {
        std::vector<std::string> arguments;
        std::optional<std::string> file, device, name;
    } rows[] = {
        {{"--camera", "demo"}, "demo", {}, {}},
        {{"--camera", "./clip.mp4"}, "./clip.mp4", {}, {}},
        {{"--camera", "."}, ".", {}, {}},  // there, and no slash
        {{"--camera", "/dev/video2"}, {}, "/dev/video2", {}},
        {{"--camera", "HD Pro Webcam C920"}, {}, {}, "HD Pro Webcam C920"},
        {{"--camera", "clip.mp4"}, {}, {}, "clip.mp4"},  // no such file: a name
        {{"--camera", "demo", "--camera", "C920"}, {}, {}, "C920"},
    };
    for (const Row& row : rows) {
        const auto parsed = parseCommandLine(row.arguments);
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_EQ(parsed.options->camera, row.file) << row.arguments.back();
        EXPECT_EQ(parsed.options->cameraDevice, row.device) << row.arguments.back();
        EXPECT_EQ(parsed.options->cameraName, row.name) << row.arguments.back();
    }
    EXPECT_TRUE(parseCommandLine({"--list-cameras"}).options->listCameras);
    EXPECT_FALSE(parseCommandLine({"--camera", "C920", "--loop"}).options) << "a camera cannot loop";
}

TEST(CommandLineTest, MistakesAreRefusedWithAReason) {
    // One command line a row, its arguments split at the spaces.
    for (const char* line : {"--camera",
                             "--camera=",
                             "--lock now",
                             "--lock",
                             "--max-seconds",
                             "--max-seconds 0",
                             "--max-seconds -2",
                             "--max-seconds ten",
                             "--max-seconds 5s",
                             "--max-seconds inf",
                             "--headless --ignore-face 0,1;0,2;0,3;0,4",
                             "--headless --ignore-face 0.1,0.2,0,0.4",
                             "--ignore-face 0.1,0.2,0.3,0.4",
                             "--detector",
                             "--detector cuda",
                             "--journal",
                             "--journal j.jsonl",
                             "--face-counts --camera demo",
                             "--detector onednn-bf16",
                             "--frobnicate",
                             "--lock-on-leave 30",
                             "--headless --lock-on-leave -1",
                             "--headless --lock-on-leave 3601",
                             "--headless --lock-on-leave 30s",
                             "--status --camera demo",
                             "--headless --away",
                             "--away --back",
                             "--json",
                             "--away --json",
                             "--pause",
                             "--pause 0",
                             "--pause 0.5s",
                             "--pause 25h",
                             "--pause 15min",
                             "--pause -5m",
                             "--pause m",
                             "demo"}) {
        std::istringstream words(line);
        const std::vector<std::string> arguments{std::istream_iterator<std::string>(words), {}};
        const auto parsed = parseCommandLine(arguments);
        EXPECT_FALSE(parsed.options) << line;
        EXPECT_FALSE(parsed.error.empty()) << line;
    }
}

TEST(CommandLineTest, TheDetectorsEngineRealTimePacingHelpAndVersion) {
    const auto parsed =
        parseCommandLine({"--headless", "--detector", "opencv", "--realtime", "--detect-every-frame", "--face-counts"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_TRUE(parsed.options->faceCounts);
    EXPECT_EQ(parsed.options->detector, app::DetectorBackend::opencv);
    EXPECT_TRUE(parsed.options->realtime);
    EXPECT_TRUE(parsed.options->detectEveryFrame);
    for (const auto& [word, engine] :
         {std::pair{"onednn", app::DetectorBackend::onednn}, std::pair{"onednn-f32", app::DetectorBackend::onednnF32},
          std::pair{"opencv", app::DetectorBackend::opencv}}) {
        EXPECT_EQ(parseCommandLine({std::string("--detector=") + word}).options->detector, engine) << word;
        EXPECT_NE(app::usageText().find(word), std::string::npos) << word;
    }
    EXPECT_EQ(parseCommandLine({"--headless", "--journal=/tmp/a b.jsonl"}).options->journal, "/tmp/a b.jsonl");
    EXPECT_TRUE(parseCommandLine({"--help"}).options->help);
    EXPECT_TRUE(parseCommandLine({"-h"}).options->help);
    EXPECT_TRUE(parseCommandLine({"--version"}).options->version);
    EXPECT_NE(app::usageText().find("--camera demo|PATH"), std::string::npos);
}

TEST(CommandLineTest, CommandsForTheRunningTovakAndTheLockOnLeaving) {
    const struct Row {
        std::vector<std::string> arguments;
        app::Control control;
        bool json;
        double pauseSeconds;
    } rows[] = {
        {{"--status", "--json"}, app::Control::status, true, 0},
        {{"--pause", "15m"}, app::Control::pause, false, 900},
        {{"--pause=1.5h"}, app::Control::pause, false, 5400},
        {{"--pause", "90"}, app::Control::pause, false, 90},
        {{"--pause", "24h"}, app::Control::pause, false, 86400},
        {{"--resume"}, app::Control::resume, false, 0},
        {{"--away"}, app::Control::away, false, 0},
        {{"--back"}, app::Control::back, false, 0},
        {{"--stop"}, app::Control::stop, false, 0},
        {{"--start"}, app::Control::none, false, 0},
    };
    for (const Row& row : rows) {
        const auto parsed = parseCommandLine(row.arguments);
        ASSERT_TRUE(parsed.options) << row.arguments[0] << ": " << parsed.error;
        EXPECT_EQ(parsed.options->control, row.control) << row.arguments[0];
        EXPECT_EQ(parsed.options->json, row.json) << row.arguments[0];
        EXPECT_EQ(parsed.options->pauseSeconds, row.pauseSeconds) << row.arguments[0];
    }
    EXPECT_EQ(parseCommandLine({"--headless", "--lock-on-leave", "0"}).options->lockOnLeaveSeconds, 0.0);
    EXPECT_EQ(parseCommandLine({"--headless", "--lock-on-leave=120"}).options->lockOnLeaveSeconds, 120.0);
    EXPECT_FALSE(parseCommandLine({"--headless"}).options->lockOnLeaveSeconds);
}

}  // namespace
}  // namespace tovak::testing

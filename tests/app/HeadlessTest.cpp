#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <regex>
#include <sstream>

#include "app/HeadlessRunner.h"
#include "app/ScreenLockerFactory.h"
#include "monitor/IgnoredFaces.h"
#include "platform/demo/DemoScene.h"
#include "platform/headless/EventLog.h"
#include "platform/headless/ReportingAdapters.h"
#include "platform/opencv/BlazeFaceDetector.h"
#include "platform/opencv/DataDirectory.h"
#include "runtime/Simulation.h"

namespace tovak::testing {
namespace {

namespace fs = std::filesystem;
using platform::DemoScene;
using platform::EventLog;

// ---- the event log -----------------------------------------------------------------------------

TEST(EventLogTest, LinesCarryTimeFromTheFirstFrameTheFrameAndTheFaces) {
    runtime::ManualClock clock(500.0);
    std::ostringstream out;
    EventLog log(out, clock);
    log.emit("running", {EventLog::flag("value", true)});
    clock.advance(0.25);
    log.frameDelivered(0);
    clock.advance(12.3671);
    log.frameDelivered(371);
    log.facesCounted(2);
    log.emit("trigger.raise");
    log.emit("status", {EventLog::text("text", "● Демо \"A\"\\\n")});
    EXPECT_EQ(out.str(),
              "{\"t\": 0.000, \"frame\": 0, \"faces\": 0, \"event\": \"running\", \"value\": true}\n"
              "{\"t\": 12.367, \"frame\": 371, \"faces\": 2, \"event\": \"trigger.raise\"}\n"
              "{\"t\": 12.367, \"frame\": 371, \"faces\": 2, \"event\": \"status\", "
              "\"text\": \"● Демо \\\"A\\\"\\\\\\n\"}\n");
    EXPECT_EQ(log.eventCount(), 3U);
}

TEST(EventLogTest, ControlCharactersAreEscaped) {
    EXPECT_EQ(EventLog::quoted(std::string("a\x01\tb", 4)), "\"a\\u0001\\tb\"");
}

TEST(EventLogTest, ALockWithoutALockServiceIsReportedAsFailedWithItsMessage) {
    runtime::Simulation sim;
    std::ostringstream out;
    EventLog log(out, sim.clock);
    auto main = std::shared_ptr<runtime::MainQueue>(std::shared_ptr<runtime::MainQueue>{}, &sim.main);
    platform::ReportingScreenLocker locker(log, app::makeScreenLocker(main));
    std::optional<std::string> message;
    int completions = 0;
    locker.lockNow([&](bool success, std::optional<std::string> text) {
        ++completions;
        EXPECT_FALSE(success);
        message = std::move(text);
    });
    EXPECT_EQ(completions, 0);  // the answer comes on the main queue
    sim.drain();
    EXPECT_EQ(completions, 1);
    const std::string expected =
        "Блокировка не сработала: не найдена служба блокировки экрана (KDE, GNOME, Cinnamon, MATE, Xfce, logind).";
    EXPECT_EQ(message, expected);
    EXPECT_EQ(out.str(),
              "{\"t\": 0.000, \"frame\": 0, \"faces\": 0, \"event\": \"lock.request\"}\n"
              "{\"t\": 0.000, \"frame\": 0, \"faces\": 0, \"event\": \"lock.result\", \"ok\": false, "
              "\"text\": \"" +
                  expected + "\"}\n");
}

// ---- runs of the tovak command ----------------------------------------------------------------

struct Event {
    double t = 0;
    long frame = 0;
    int faces = 0;
    std::string name;
    std::string line;
};

std::vector<Event> parse(const std::string& output) {
    static const std::regex kLine(
        R"re(^\{"t": ([0-9.]+), "frame": ([0-9]+), "faces": ([0-9]+), "event": "([a-z.]+)"(, .*)?\}$)re");
    std::vector<Event> events;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, kLine)) << line;
        if (!m.empty()) {
            events.push_back(Event{std::stod(m[1]), std::stol(m[2]), std::stoi(m[3]), m[4], line});
        }
    }
    return events;
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome tovak(app::Options options) {
    std::ostringstream out;
    std::ostringstream err;
    app::HeadlessEnvironment env{out, err, app::makeScreenLocker};
    options.headless = true;
    Outcome run;
    run.status = app::runHeadless(options, env);
    run.out = out.str();
    run.err = err.str();
    return run;
}

const Event* find(const std::vector<Event>& events, const std::string& name, std::size_t from = 0) {
    for (std::size_t i = from; i < events.size(); ++i) {
        if (events[i].name == name) {
            return &events[i];
        }
    }
    return nullptr;
}

std::size_t countOf(const std::vector<Event>& events, const std::string& name) {
    return static_cast<std::size_t>(
        std::count_if(events.begin(), events.end(), [&](const Event& e) { return e.name == name; }));
}

long frameAt(double seconds) {
    return std::lround(seconds * DemoScene::fps);
}

// The demo replay is the end-to-end test: the real detector on the scripted scene, through the
// engine, to the events. Outcome once for the whole suite; it takes most of a minute.
class DemoReplayTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        app::Options options;
        options.camera = "demo";
        options.lockDryRun = true;
        first_ = new Outcome(tovak(options));
    }
    static void TearDownTestSuite() {
        delete first_;
        first_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(first_->status, 0) << first_->err;
        events_ = parse(first_->out);
        ASSERT_FALSE(events_.empty());
    }
    static Outcome* first_;
    std::vector<Event> events_;
};

Outcome* DemoReplayTest::first_ = nullptr;

TEST_F(DemoReplayTest, StartsRunningWithTheDemoCameraNamed) {
    ASSERT_GE(events_.size(), 2U);
    EXPECT_EQ(events_[0].line, R"({"t": 0.000, "frame": 0, "faces": 0, "event": "running", "value": true})");
    EXPECT_EQ(events_[1].line, R"({"t": 0.000, "frame": 0, "faces": 0, "event": "status", "text": "● Демо-камера"})");
}

TEST_F(DemoReplayTest, TheOnlookerIsConfirmedOnTheThirdFrameAndAnsweredAtOnce) {
    const Event* confirmed = find(events_, "presence.confirmed");
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(confirmed->frame, frameAt(DemoScene::onlookerArrives) + 2);
    EXPECT_EQ(confirmed->faces, 2);
    const Event* raise = find(events_, "trigger.raise");
    const Event* show = find(events_, "pip.show");
    ASSERT_TRUE(raise && show);
    EXPECT_EQ(raise->frame, confirmed->frame);
    EXPECT_EQ(show->frame, confirmed->frame);
    EXPECT_EQ(countOf(events_, "presence.confirmed"), 1U);
}

TEST_F(DemoReplayTest, TheDocumentIsRaisedAgainEveryTwoSecondsWhileTheOnlookerStays) {
    std::vector<double> raises;
    for (const Event& e : events_) {
        if (e.name == "trigger.raise") {
            raises.push_back(e.t);
        }
    }
    ASSERT_EQ(raises.size(), 4U);  // 8.07, 10.07, 12.07, 14.07: the onlooker leaves at 16.0
    for (std::size_t i = 1; i < raises.size(); ++i) {
        EXPECT_NEAR(raises[i] - raises[i - 1], 2.0, 1.0 / 30 + 1e-9);
    }
}

TEST_F(DemoReplayTest, FifteenMissesCloseTheDocumentAndThePanelGoesTwoSecondsLater) {
    const Event* ended = find(events_, "presence.ended");
    const Event* close = find(events_, "trigger.close");
    ASSERT_TRUE(ended && close);
    EXPECT_EQ(ended->frame, frameAt(DemoScene::onlookerLeaves) + 14);
    EXPECT_EQ(close->frame, ended->frame);
    const Event* hide = find(events_, "pip.hide");
    ASSERT_TRUE(hide);
    EXPECT_NEAR(hide->t - close->t, 2.0, 1e-6);
    EXPECT_NEAR(hide->t, 18.467, 0.0005);
}

TEST_F(DemoReplayTest, AwayModeSwitchesItselfOnTenSecondsAfterTheLastFace) {
    const Event* away = find(events_, "away.on");
    ASSERT_TRUE(away);
    EXPECT_EQ(away->faces, 0);
    const double firstEmpty = frameAt(DemoScene::userLeaves) / DemoScene::fps;
    EXPECT_GE(away->t - firstEmpty, 10.0 - 1e-9);
    EXPECT_LE(away->t - firstEmpty, 10.0 + 1.0 / 30);
}

TEST_F(DemoReplayTest, AStrangerGetsTheCloseUpOnTheThirdFrameAndTheLockOneSecondLater) {
    const Event* closeup = find(events_, "closeup.show");
    ASSERT_TRUE(closeup);
    EXPECT_EQ(closeup->frame, frameAt(DemoScene::strangerArrives) + 2);
    const Event* request = find(events_, "lock.request");
    ASSERT_TRUE(request);
    EXPECT_NEAR(request->t - closeup->t, 1.0, 1.0 / 30 + 1e-9);
    const Event* result = find(events_, "lock.result");
    ASSERT_TRUE(result);
    EXPECT_NE(result->line.find("\"ok\": true"), std::string::npos) << result->line;
    EXPECT_EQ(countOf(events_, "lock.request"), 1U);
}

TEST_F(DemoReplayTest, TheEndOfTheSourceStopsTheMonitor) {
    ASSERT_GE(events_.size(), 3U);
    EXPECT_EQ(events_.back().name, "status");
    EXPECT_NE(events_.back().line.find("\"text\": \"Стоп\""), std::string::npos);
    EXPECT_EQ(events_.back().frame, DemoScene::frameCount() - 1);
}

TEST_F(DemoReplayTest, ASecondReplayOnTheOtherEnginePrintsTheSameEvents) {
    app::Options options;
    options.camera = "demo";
    options.lockDryRun = true;
    options.detector = app::DetectorBackend::opencv;
    const Outcome second = tovak(options);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, first_->out);
}

TEST(HeadlessTest, MaxSecondsCutsTheSource) {
    app::Options options;
    options.camera = "demo";
    options.maxSeconds = 3.0;
    const Outcome run = tovak(options);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Event> events = parse(run.out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().frame, frameAt(3.0) - 1);
    EXPECT_EQ(find(events, "presence.confirmed"), nullptr);
}

TEST(HeadlessTest, BadSourcesFailWithAMessage) {
    const fs::path folder = fs::temp_directory_path() / ("tovak-headless-" + std::to_string(::getpid()));
    fs::create_directories(folder / "empty");
    std::ofstream(folder / "notes.txt") << "text";
    for (const fs::path& path : {folder / "missing.mp4", folder / "notes.txt", folder / "empty"}) {
        app::Options options;
        options.camera = path.string();
        const Outcome run = tovak(options);
        EXPECT_EQ(run.status, app::exitBadSource) << path;
        EXPECT_NE(run.err.find(path.string()), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
    fs::remove_all(folder);
}

TEST(HeadlessTest, AMissingModelStopsBeforeAnyEvent) {
    const fs::path data = fs::temp_directory_path() / ("tovak-nomodel-" + std::to_string(::getpid()));
    fs::create_directories(data / "models");
    ::setenv("TOVAK_DATA_DIR", data.c_str(), 1);
    app::Options options;
    options.camera = "demo";
    const Outcome run = tovak(options);
    ::unsetenv("TOVAK_DATA_DIR");
    fs::remove_all(data);
    EXPECT_EQ(run.status, app::exitNoModel);
    EXPECT_NE(run.err.find("face model"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
}

TEST(HeadlessTest, WithoutACameraTheLiveRunReportsTheErrorAndFails) {
    // The live path: real queues, a main loop, and a device folder with no video node in it.
    const fs::path dev = fs::temp_directory_path() / ("tovak-nodev-" + std::to_string(::getpid()));
    fs::create_directories(dev);
    std::ostringstream out;
    std::ostringstream err;
    app::HeadlessEnvironment env{out, err, app::makeScreenLocker};
    env.v4l2 = [dev] { return platform::V4L2System::real(dev.string(), dev.string()); };
    app::Options options;
    options.headless = true;
    options.maxSeconds = 5.0;
    const int status = app::runHeadless(options, env);
    fs::remove_all(dev);
    EXPECT_EQ(status, app::exitCameraFailed);
    EXPECT_NE(err.str().find("Камера: ошибка"), std::string::npos) << err.str();
    const std::vector<Event> events = parse(out.str());
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().line,
              R"({"t": 0.000, "frame": 0, "faces": 0, "event": "status", "text": "Камера: ошибка"})");
    // Stopping after the failure still resets the monitor, as the stop button would.
    EXPECT_EQ(events.back().line, R"({"t": 0.000, "frame": 0, "faces": 0, "event": "status", "text": "Стоп"})");
}

TEST(HeadlessTest, AFolderOfImagesReplaysAnOnlooker) {
    // Two seconds of the demo's onlooker, saved as images and replayed as a file camera.
    std::string error;
    auto scene = DemoScene::load(platform::dataFile("demo"), error);
    ASSERT_TRUE(scene) << error;
    const fs::path folder = fs::temp_directory_path() / ("tovak-frames-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const long first = frameAt(DemoScene::onlookerArrives) - 10;
    for (long i = 0; i < 40; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%03ld.png", i);
        cv::imwrite((folder / name).string(), scene->render(static_cast<int>(first + i))->mat());
    }
    app::Options options;
    options.camera = folder.string();
    options.lockDryRun = true;
    const Outcome run = tovak(options);
    fs::remove_all(folder);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Event> events = parse(run.out);
    const Event* confirmed = find(events, "presence.confirmed");
    ASSERT_TRUE(confirmed) << run.out;
    EXPECT_EQ(confirmed->frame, 12);
    ASSERT_GE(events.size(), 2U);
    EXPECT_NE(events[1].line.find(folder.filename().string()), std::string::npos) << events[1].line;
    // Stopping with the onlooker confirmed closes the document.
    EXPECT_TRUE(find(events, "trigger.close"));
}

TEST(HeadlessTest, AFaceOnTheWallIsAnOnlookerUntilMarkedThenOnlyTheRealOneIs) {
    // The user, a portrait on the wall, and from frame 30 to 59 somebody behind the user.
    const std::string demo = platform::dataFile("demo") + "/";
    const cv::Mat astronaut = cv::imread(demo + "astronaut.png")(cv::Rect(120, 20, 210, 270));
    const cv::Mat cameraman = cv::imread(demo + "camera.png")(cv::Rect(140, 60, 180, 240));
    const fs::path folder = fs::temp_directory_path() / ("tovak-poster-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    for (int i = 0; i < 70; ++i) {
        cv::Mat frame;
        cv::resize(cv::imread(demo + "brick.png"), frame, cv::Size(640, 480));
        frame(cv::Rect(445, 25, 130, 170)).setTo(cv::Scalar(240, 240, 240));
        cv::resize(cameraman, frame(cv::Rect(460, 40, 100, 133)), cv::Size(100, 133));
        cv::resize(astronaut, frame(cv::Rect(90, 170, 190, 245)), cv::Size(190, 245));
        if (i >= 30 && i < 60) {
            cv::resize(cameraman, frame(cv::Rect(330, 250, 110, 147)), cv::Size(110, 147));
        }
        cv::imwrite((folder / cv::format("f%03d.png", i)).string(), frame);
    }
    // The portrait's box as the detector sees it (the smaller face), typed in as a user would.
    platform::BlazeFaceDetector detector(platform::BlazeFaceDetector::installedPath(),
                                         platform::BlazeFaceDetector::defaultModel);
    auto found = detector
                     .makeHandler(imaging::PixelBuffer::fromBgr(cv::imread((folder / "f000.png").string())),
                                  imaging::Orientation::up)
                     ->performFaceRectangles();
    ASSERT_TRUE(found && found->size() == 2U);
    const imaging::Rect poster = std::min((*found)[0].boundingBox, (*found)[1].boundingBox,
                                          [](auto& a, auto& b) { return a.area() < b.area(); });
    const auto confirmations = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--headless", "--camera", folder.string(), "--lock", "dry-run"});
        std::vector<long> frames;
        for (const Event& e : parse(tovak(*app::parseCommandLine(arguments).options).out)) {
            if (e.name == "presence.confirmed") {
                frames.push_back(e.frame);
            }
        }
        return frames;
    };
    EXPECT_EQ(confirmations({}), std::vector<long>{2});
    EXPECT_EQ(confirmations({"--ignore-face", monitor::ignored_faces::format({poster})}), std::vector<long>{32});
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tovak::testing

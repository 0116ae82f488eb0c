#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
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
#include "support/MonitorHarness.h"
#include "support/TempDir.h"

namespace tovak::testing {
namespace {

using platform::DemoScene;
using platform::EventLog;

TEST(EventLogTest, LinesCarryTimeFromTheFirstFrameTheFrameTheFacesAndEscapedTexts) {
    runtime::ManualClock clock(500.0);
    std::ostringstream out;
    EventLog log(out, clock);
    log.emit("running", {EventLog::flag("value", true)});
    clock.advance(0.25);
    log.frameDelivered(0);
    clock.advance(12.3671);
    log.frameDelivered(371);
    log.facesCounted(2);
    log.emit("status", {EventLog::text("text", "● Демо \"A\"\\\n")});
    EXPECT_EQ(out.str(), R"({"t": 0.000, "frame": 0, "faces": 0, "event": "running", "value": true})"
                         "\n"
                         R"({"t": 12.367, "frame": 371, "faces": 2, "event": "status", "text": "● Демо \"A\"\\\n"})"
                         "\n");
    EXPECT_EQ(log.eventCount(), 2U);
    EXPECT_EQ(EventLog::quoted(std::string("a\x01\tb", 4)), R"("a\u0001\tb")");
}

TEST(EventLogTest, ALockWithoutALockServiceIsReportedAsFailedWithItsMessageOnTheMainQueue) {
    runtime::Simulation sim;
    std::ostringstream out;
    EventLog log(out, sim.clock);
    platform::ReportingScreenLocker locker(log, app::makeScreenLocker(unowned<runtime::MainQueue>(sim.main)));
    std::vector<std::pair<bool, std::optional<std::string>>> answers;
    locker.lockNow([&](bool success, std::optional<std::string> text) { answers.emplace_back(success, text); });
    EXPECT_TRUE(answers.empty());
    sim.drain();
    const std::string message =
        "Блокировка не сработала: не найдена служба блокировки экрана (KDE, GNOME, Cinnamon, MATE, Xfce, logind).";
    EXPECT_EQ(answers, (decltype(answers){{false, message}}));
    EXPECT_EQ(out.str(), R"({"t": 0.000, "frame": 0, "faces": 0, "event": "lock.request"})"
                         "\n"
                         R"({"t": 0.000, "frame": 0, "faces": 0, "event": "lock.result", "ok": false, "text": ")" +
                             message + "\"}\n");
}

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
    for (std::string line; std::getline(in, line);) {
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
    std::string out, err;
};

// A run of the tovak command without windows.
Outcome tovak(app::Options options, std::function<platform::V4L2System()> v4l2 = {}) {
    std::ostringstream out, err;
    app::HeadlessEnvironment env{out, err, app::makeScreenLocker};
    if (v4l2) {
        env.v4l2 = std::move(v4l2);
    }
    options.headless = true;
    const int status = app::runHeadless(options, env);
    return {status, out.str(), err.str()};
}

const Event* find(const std::vector<Event>& events, const std::string& name) {
    const auto it = std::find_if(events.begin(), events.end(), [&](const Event& e) { return e.name == name; });
    return it == events.end() ? nullptr : &*it;
}

std::vector<Event> named(const std::vector<Event>& events, const std::string& name) {
    std::vector<Event> found;
    std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                 [&](const Event& e) { return e.name == name; });
    return found;
}

std::vector<long> confirmedFrames(const std::string& output) {
    std::vector<long> frames;
    for (const Event& e : named(parse(output), "presence.confirmed")) {
        frames.push_back(e.frame);
    }
    return frames;
}

app::Options dryRun(const std::string& camera, std::optional<double> maxSeconds = std::nullopt) {
    app::Options options;
    options.camera = camera;
    options.lockDryRun = true;
    options.maxSeconds = maxSeconds;
    return options;
}

// The demo replay is the end-to-end test: the real detector on the scripted scene, through the
// engine, to the events. The scene's beats as the replay reports them, one row each; when the scene
// is re-rendered, adjust the frames here (30 frames a second: the onlooker steps in at 8.0 s and
// leaves at 16.0 s, the user leaves at 22.0 s, a stranger sits down at 36.0 s, the scene ends at 46.0 s).
const struct Beat {
    const char* event;
    long frame;
    int faces;
} kBeats[] = {
    {"running", 0, 0},
    {"status", 0, 0},                // "● Демо-камера"
    {"presence.confirmed", 242, 2},  // the third two-face frame
    {"trigger.raise", 242, 2},
    {"pip.show", 242, 2},
    {"presence.ended", 494, 1},  // the fifteenth frame without the onlooker
    {"trigger.close", 494, 1},
    {"away.on", 960, 0},        // 10.0 s after the last face
    {"closeup.show", 1082, 1},  // the third frame with the stranger
};
constexpr long kLastFrame = 1379;

class DemoReplayTest : public ::testing::Test {
  protected:
    // One replay for the whole suite: it takes most of a minute.
    static void SetUpTestSuite() { replay_ = new Outcome(tovak(dryRun("demo"))); }
    static void TearDownTestSuite() { delete std::exchange(replay_, nullptr); }
    void SetUp() override {
        ASSERT_EQ(replay_->status, 0) << replay_->err;
        events_ = parse(replay_->out);
        ASSERT_GE(events_.size(), 3U);
    }
    static inline Outcome* replay_ = nullptr;
    std::vector<Event> events_;
};

TEST_F(DemoReplayTest, EachBeatComesOnItsFrameOnce) {
    EXPECT_EQ(events_[1].line, R"({"t": 0.000, "frame": 0, "faces": 0, "event": "status", "text": "● Демо-камера"})");
    for (const Beat& beat : kBeats) {
        SCOPED_TRACE(beat.event);
        const Event* e = find(events_, beat.event);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->frame, beat.frame);
        EXPECT_EQ(e->faces, beat.faces);
    }
    for (const char* once : {"presence.confirmed", "presence.ended", "away.on", "closeup.show", "lock.request"}) {
        EXPECT_EQ(named(events_, once).size(), 1U) << once;
    }
    // The end of the source stops the monitor.
    EXPECT_EQ(events_.back().frame, kLastFrame);
    EXPECT_NE(events_.back().line.find(R"("event": "status", "text": "Стоп")"), std::string::npos);
}

TEST_F(DemoReplayTest, TheRulesIntervalsHoldBetweenTheBeats) {
    const std::vector<Event> raises = named(events_, "trigger.raise");
    ASSERT_EQ(raises.size(), 4U);  // 8.07, 10.07, 12.07, 14.07: the onlooker leaves at 16.0
    for (std::size_t i = 1; i < raises.size(); ++i) {
        EXPECT_NEAR(raises[i].t - raises[i - 1].t, 2.0, 1.0 / 30 + 1e-9);
    }
    const Event* close = find(events_, "trigger.close");
    const Event* hide = find(events_, "pip.hide");
    ASSERT_TRUE(close && hide);
    EXPECT_NEAR(hide->t - close->t, 2.0, 1e-6);
    const Event* closeup = find(events_, "closeup.show");
    const Event* request = find(events_, "lock.request");
    const Event* result = find(events_, "lock.result");
    ASSERT_TRUE(closeup && request && result);
    EXPECT_NEAR(request->t - closeup->t, 1.0, 1.0 / 30 + 1e-9);
    EXPECT_NE(result->line.find("\"ok\": true"), std::string::npos) << result->line;
}

// The cut replay runs on the other engine: both must see the same faces in the same frames.
TEST_F(DemoReplayTest, AShorterReplayOnTheOtherEnginePrintsTheSameEventsUpToWhereItWasCut) {
    app::Options options = dryRun("demo", 9.0);
    options.detector = app::DetectorBackend::opencv;
    const Outcome cut = tovak(options);
    ASSERT_EQ(cut.status, 0) << cut.err;
    const std::vector<Event> events = parse(cut.out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().frame, 269);
    const auto before = [](const std::vector<Event>& all) {
        std::string lines;
        for (const Event& e : all) {
            lines += e.frame < 269 ? e.line + "\n" : "";
        }
        return lines;
    };
    EXPECT_EQ(before(events), before(events_));
    EXPECT_TRUE(find(events, "presence.confirmed"));
    EXPECT_TRUE(find(events, "trigger.close"));  // stopping with a confirmed onlooker closes the document
}

TEST(HeadlessTest, BadSourcesAndAMissingModelFailWithAMessageBeforeAnyEvent) {
    TempDir folder("tovak-headless");
    const std::string notes = folder.write("notes.txt", "text");
    folder.write("empty/readme.txt", "");
    folder.write("data/models/readme.txt", "");
    const struct Row {
        std::string camera, dataDir, message;
        int status;
    } rows[] = {{folder / "missing.mp4", "", folder / "missing.mp4", app::exitBadSource},
                {notes, "", notes, app::exitBadSource},
                {folder / "empty", "", folder / "empty", app::exitBadSource},
                {"demo", folder / "data", "face model", app::exitNoModel}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.camera);
        app::Options options;
        options.camera = row.camera;
        if (!row.dataDir.empty()) {
            ::setenv("TOVAK_DATA_DIR", row.dataDir.c_str(), 1);
        }
        const Outcome run = tovak(options);
        ::unsetenv("TOVAK_DATA_DIR");
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
}

TEST(HeadlessTest, WithoutACameraTheLiveRunReportsTheErrorAndFails) {
    // The live path: real queues, a main loop, and a device folder with no video node in it.
    TempDir dev("tovak-nodev");
    app::Options options;
    options.maxSeconds = 5.0;
    const Outcome run =
        tovak(options, [&dev] { return platform::V4L2System::real(dev.path().string(), dev.path().string()); });
    EXPECT_EQ(run.status, app::exitCameraFailed);
    EXPECT_NE(run.err.find("Камера: ошибка"), std::string::npos) << run.err;
    const std::vector<Event> events = parse(run.out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().line,
              R"({"t": 0.000, "frame": 0, "faces": 0, "event": "status", "text": "Камера: ошибка"})");
    // Stopping after the failure still resets the monitor, as the stop button would.
    EXPECT_EQ(events.back().line, R"({"t": 0.000, "frame": 0, "faces": 0, "event": "status", "text": "Стоп"})");
}

TEST(HeadlessTest, AFolderOfImagesReplaysAnOnlooker) {
    // Forty frames of the demo's onlooker, ten before it steps in, saved as images and replayed.
    std::string error;
    auto scene = DemoScene::load(platform::dataFile("demo"), error);
    ASSERT_TRUE(scene) << error;
    TempDir folder("tovak-frames");
    for (int i = 0; i < 40; ++i) {
        cv::imwrite(folder / cv::format("f%03d.png", i), scene->render(230 + i)->mat());
    }
    const Outcome run = tovak(dryRun(folder.path().string()));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(confirmedFrames(run.out), std::vector<long>{12}) << run.out;
    const std::vector<Event> events = parse(run.out);
    ASSERT_GE(events.size(), 2U);
    EXPECT_NE(events[1].line.find(folder.path().filename().string()), std::string::npos) << events[1].line;
}

TEST(HeadlessTest, AFaceOnTheWallIsAnOnlookerUntilMarkedThenOnlyTheRealOneIs) {
    // The user, a portrait on the wall, and from frame 30 to 59 somebody behind the user.
    const std::string demo = platform::dataFile("demo") + "/";
    const cv::Mat astronaut = cv::imread(demo + "astronaut.png")(cv::Rect(120, 20, 210, 270));
    const cv::Mat cameraman = cv::imread(demo + "camera.png")(cv::Rect(140, 60, 180, 240));
    TempDir folder("tovak-poster");
    for (int i = 0; i < 70; ++i) {
        cv::Mat frame;
        cv::resize(cv::imread(demo + "brick.png"), frame, cv::Size(640, 480));
        frame(cv::Rect(445, 25, 130, 170)).setTo(cv::Scalar(240, 240, 240));
        cv::resize(cameraman, frame(cv::Rect(460, 40, 100, 133)), cv::Size(100, 133));
        cv::resize(astronaut, frame(cv::Rect(90, 170, 190, 245)), cv::Size(190, 245));
        if (i >= 30 && i < 60) {
            cv::resize(cameraman, frame(cv::Rect(330, 250, 110, 147)), cv::Size(110, 147));
        }
        cv::imwrite(folder / cv::format("f%03d.png", i), frame);
    }
    // The portrait's box as the detector sees it (the smaller face), typed in as a user would.
    platform::BlazeFaceDetector detector(platform::BlazeFaceDetector::installedPath(),
                                         platform::BlazeFaceDetector::defaultModel);
    auto found =
        detector.makeHandler(imaging::PixelBuffer::fromBgr(cv::imread(folder / "f000.png")), imaging::Orientation::up)
            ->performFaceRectangles();
    ASSERT_TRUE(found && found->size() == 2U);
    const imaging::Rect poster = std::min((*found)[0].boundingBox, (*found)[1].boundingBox,
                                          [](auto& a, auto& b) { return a.area() < b.area(); });
    const auto confirmations = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--headless", "--camera", folder.path().string(), "--lock", "dry-run"});
        return confirmedFrames(tovak(*app::parseCommandLine(arguments).options).out);
    };
    EXPECT_EQ(confirmations({}), std::vector<long>{2});
    EXPECT_EQ(confirmations({"--ignore-face", monitor::ignored_faces::format({poster})}), std::vector<long>{32});
}

}  // namespace
}  // namespace tovak::testing

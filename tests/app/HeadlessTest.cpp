#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <regex>
#include <sstream>

#include "app/HeadlessRunner.h"
#include "app/ScreenLockerFactory.h"
#include "facedetect/BlazeFaceDetector.h"
#include "headless/EventLog.h"
#include "headless/ReportingAdapters.h"
#include "monitor/IgnoredFaces.h"
#include "runtime/Simulation.h"
#include "support/ChildProcess.h"
#include "support/MonitorHarness.h"
#include "support/TempDir.h"
#include "system/DataDirectory.h"

namespace tovak::testing {
namespace {

using headless::EventLog;

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
}

TEST(EventLogTest, WithFaceCountsAFrameWhoseCountDiffersFromTheOneBeforeIsAnEvent) {
    runtime::ManualClock clock(0.0);
    std::ostringstream out;
    EventLog log(out, clock);
    log.reportFaceCounts(true);
    const std::size_t counts[] = {0, 0, 1, 1, 2, 0, 0, 1};
    for (std::int64_t frame = 0; frame < 8; ++frame) {
        log.frameDelivered(frame);
        log.facesCounted(counts[frame]);
        clock.advance(0.1);
    }
    EXPECT_EQ(out.str(), R"({"t": 0.200, "frame": 2, "faces": 1, "event": "faces"})"
                         "\n"
                         R"({"t": 0.400, "frame": 4, "faces": 2, "event": "faces"})"
                         "\n"
                         R"({"t": 0.500, "frame": 5, "faces": 0, "event": "faces"})"
                         "\n"
                         R"({"t": 0.700, "frame": 7, "faces": 1, "event": "faces"})"
                         "\n");
}

TEST(EventLogTest, ALockWithoutALockServiceIsReportedAsFailedWithItsMessageOnTheMainQueue) {
    runtime::Simulation sim;
    std::ostringstream out;
    EventLog log(out, sim.clock);
    headless::ReportingScreenLocker locker(log, app::makeScreenLocker(unowned<runtime::MainQueue>(sim.main)));
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

// A run of `tovak --headless ARGUMENTS`.
Outcome tovak(std::vector<std::string> arguments, std::function<camera::V4L2System()> v4l2 = {}) {
    std::ostringstream out, err;
    app::HeadlessEnvironment env{out, err, app::makeScreenLocker};
    if (v4l2) {
        env.v4l2 = std::move(v4l2);
    }
    arguments.insert(arguments.begin(), "--headless");
    const int status = app::runHeadless(*app::parseCommandLine(arguments).options, env);
    return {status, out.str(), err.str()};
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
    {"away.on", 960, 0},           // 10.0 s after the last face
    {"leave.armed", 960, 0},       // the lock when the user leaves, after 30 s...
    {"leave.cancelled", 1082, 1},  // ...cancelled by the stranger's third frame
    {"closeup.show", 1082, 1},     // the third frame with the stranger
};
constexpr long kLastFrame = 1379;

class DemoReplayTest : public ::testing::Test {
  protected:
    // One replay for the whole suite: it takes most of a minute.
    static void SetUpTestSuite() {
        journalDir_ = new TempDir("tovak-replay-journal");
        replay_ = new Outcome(tovak(
            {"--camera", "demo", "--lock", "dry-run", "--journal", *journalDir_ / "j.jsonl", "--lock-on-leave", "30"}));
    }
    static void TearDownTestSuite() {
        delete std::exchange(replay_, nullptr);
        delete std::exchange(journalDir_, nullptr);
    }
    void SetUp() override {
        ASSERT_EQ(replay_->status, 0) << replay_->err;
        events_ = parse(replay_->out);
        ASSERT_GE(events_.size(), 3U);
    }
    static inline Outcome* replay_ = nullptr;
    static inline TempDir* journalDir_ = nullptr;
    std::vector<Event> events_;
};

TEST_F(DemoReplayTest, EachBeatComesOnItsFrameOnce) {
    EXPECT_EQ(events_[1].line, R"({"t": 0.000, "frame": 0, "faces": 0, "event": "status", "text": "● Демо-камера"})");
    for (const Beat& beat : kBeats) {
        SCOPED_TRACE(beat.event);
        const std::vector<Event> all = named(events_, beat.event);
        ASSERT_FALSE(all.empty());
        EXPECT_EQ(all[0].frame, beat.frame);
        EXPECT_EQ(all[0].faces, beat.faces);
    }
    for (const char* once : {"presence.confirmed", "presence.ended", "away.on", "closeup.show", "lock.request"}) {
        EXPECT_EQ(named(events_, once).size(), 1U) << once;
    }
    EXPECT_TRUE(named(events_, "leave.lock").empty());
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
    // The panel hides 2.0 s after the document closes; the lock comes about 1.0 s into the close-up.
    for (const auto& [from, to, seconds, within] : {std::tuple{"trigger.close", "pip.hide", 2.0, 1e-6},
                                                    std::tuple{"closeup.show", "lock.request", 1.0, 1.0 / 30 + 1e-9}}) {
        const std::vector<Event> first = named(events_, from), then = named(events_, to);
        ASSERT_FALSE(first.empty() || then.empty()) << to;
        EXPECT_NEAR(then[0].t - first[0].t, seconds, within) << to;
    }
    EXPECT_NE(replay_->out.find(R"("event": "lock.result", "ok": true)"), std::string::npos);
}

// The journal of the replay: one line for the onlooker's episode and one for the visit, at the times
// of the events that began and ended them (the frames' own clock).
TEST_F(DemoReplayTest, TheJournalHasALineForTheEpisodeAndTheVisitAtTheirEventsTimes) {
    const auto t = [this](const char* name) {
        const std::vector<Event> all = named(events_, name);
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", all.empty() ? -1.0 : all[0].t);
        return std::string(text);
    };
    const std::string raises = std::to_string(named(events_, "trigger.raise").size());
    std::istringstream in(journalDir_->read("j.jsonl"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_NE(lines[0].find(R"({"kind": "onlooker", "start": )" + t("presence.confirmed") + R"(, "end": )" +
                            t("presence.ended")),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find(R"("raises": )" + raises + "}"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(R"({"kind": "visit", "start": )" + t("closeup.show") + R"(, "end": )" + t("closeup.hide")),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[1].find(R"("closeup": true, "lock": "locked"})"), std::string::npos) << lines[1];
}

TEST_F(DemoReplayTest, AShorterReplayPrintsTheSameEventsUpToWhereItWasCut) {
    const Outcome cut = tovak({"--camera", "demo", "--lock", "dry-run", "--max-seconds", "9"});
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
    EXPECT_EQ(named(events, "presence.confirmed").size(), 1U);
    EXPECT_EQ(named(events, "trigger.close").size(), 1U);  // stopping with a confirmed onlooker closes the document
}

// The fast path (the replay above), oneDNN in f32 and OpenCV DNN see the same faces in the same
// frames: the same events, line for line.
TEST_F(DemoReplayTest, TheOtherEnginesPrintTheSameEvents) {
    for (const char* engine : {"onednn-f32", "opencv"}) {
        SCOPED_TRACE(engine);
        const Outcome other =
            tovak({"--camera", "demo", "--lock", "dry-run", "--detector", engine, "--lock-on-leave", "30"});
        ASSERT_EQ(other.status, 0) << other.err;
        EXPECT_EQ(other.out, replay_->out);
    }
}

TEST(HeadlessTest, BadSourcesAndAMissingModelFailWithAMessageBeforeAnyEvent) {
    TempDir folder("tovak-headless");
    const std::string notes = folder.write("notes.txt", "text");
    folder.write("empty/readme.txt", "");
    folder.write("data/models/readme.txt", "");
    folder.write("impostors/a.png", "text");
    folder.write("impostors/b.jpg", std::string("\x13\x9c\xf0\x00\x7f\x42", 6));
    const struct Row {
        std::string camera, dataDir, message;
        int status;
    } rows[] = {{folder / "missing.mp4", "", folder / "missing.mp4", app::exitBadSource},
                {notes, "", notes, app::exitBadSource},
                {folder / "empty", "", folder / "empty", app::exitBadSource},
                {folder / "impostors", "",
                 "tovak: пропущены файлы, которые не читаются как картинки: a.png, b.jpg\ntovak: в папке нет ни одной "
                 "картинки, которую можно прочесть: " +
                     folder / "impostors",
                 app::exitBadSource},
                {"demo", folder / "data", "face model", app::exitNoModel}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.camera);
        if (!row.dataDir.empty()) {
            ::setenv("TOVAK_DATA_DIR", row.dataDir.c_str(), 1);
        }
        const Outcome run = tovak({"--camera", row.camera});
        ::unsetenv("TOVAK_DATA_DIR");
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
}

TEST(HeadlessTest, WithoutACameraTheLiveRunReportsTheErrorAndFails) {
    // The live path: real queues, a main loop, and a device folder with no video node in it.
    TempDir dev("tovak-nodev");
    const Outcome run = tovak({"--max-seconds", "5"},
                              [&dev] { return camera::V4L2System::real(dev.path().string(), dev.path().string()); });
    EXPECT_EQ(run.status, app::exitCameraFailed);
    EXPECT_NE(run.err.find("Камера: ошибка"), std::string::npos) << run.err;
    const std::vector<Event> events = parse(run.out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().line,
              R"({"t": 0.000, "frame": 0, "faces": 0, "event": "status", "text": "Камера: ошибка"})");
    // Stopping after the failure still resets the monitor, as the stop button would.
    EXPECT_EQ(events.back().line, R"({"t": 0.000, "frame": 0, "faces": 0, "event": "status", "text": "Стоп"})");
}

TEST(HeadlessTest, AFaceOnTheWallIsAnOnlookerUntilMarkedThenOnlyTheRealOneIs) {
    // The user, a portrait on the wall, and from frame 30 to 59 somebody behind the user.
    const std::string demo = system::dataFile("demo") + "/";
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
    facedetect::BlazeFaceDetector detector(facedetect::BlazeFaceDetector::installedPath(),
                                           facedetect::BlazeFaceDetector::defaultModel);
    auto found =
        detector.makeHandler(imaging::PixelBuffer::fromBgr(cv::imread(folder / "f000.png")), imaging::Orientation::up)
            ->performFaceRectangles();
    ASSERT_TRUE(found && found->size() == 2U);
    const imaging::Rect poster = std::min((*found)[0].boundingBox, (*found)[1].boundingBox,
                                          [](auto& a, auto& b) { return a.area() < b.area(); });
    const auto replay = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--camera", folder.path().string(), "--lock", "dry-run"});
        return tovak(arguments).out;
    };
    const std::string unmarked = replay({});
    EXPECT_EQ(confirmedFrames(unmarked), std::vector<long>{2});
    // The status line names the folder as it would a camera.
    EXPECT_NE(unmarked.find("\"status\", \"text\": \"● " + folder.path().filename().string()), std::string::npos);
    EXPECT_EQ(confirmedFrames(replay({"--ignore-face", monitor::ignored_faces::format({poster})})),
              std::vector<long>{32});
}

// The window application where there is no display to show it on: told on standard error before
// Qt is asked, which would abort. The offscreen platform needs none: a missing camera file then
// ends the start instead.
// A stand-in for a video call: after a while it opens the file that stands for the camera's node,
// maps it as a program streaming from a camera does, holds it, and lets it go.
pid_t standInCall(const std::string& node, double after, double hold) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::usleep(static_cast<useconds_t>(after * 1e6));
        const int fd = ::open(node.c_str(), O_RDWR);
        void* mapped = fd >= 0 ? ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
        ::usleep(static_cast<useconds_t>(hold * 1e6));
        if (mapped != MAP_FAILED) {
            ::munmap(mapped, 4096);
        }
        ::close(fd);
        ::_exit(0);
    }
    return pid;
}

TEST(HeadlessTest, TheCameraStepsAsideForAnotherProgramAndComesBackAfterItsClose) {
    TempDir folder("tovak-node");
    const std::string node = folder.write("video0", std::string(4096, '\0'));
    const pid_t call = standInCall(node, 1.5, 1.5);
    ASSERT_GT(call, 0);
    // Then a program that opens it again and again and never streams: its 3 s of pause, then no more.
    const pid_t prober =
        spawnChild({"sh", "-c", "sleep 6; while :; do exec 3<'" + node + "'; sleep 0.3; exec 3<&-; sleep 0.4; done"});
    const Outcome run =
        tovak({"--camera", "demo", "--camera-node", node, "--lock", "dry-run", "--realtime", "--max-seconds", "12"});
    int status = 0;
    ::waitpid(call, &status, 0);
    stopChild(prober);
    EXPECT_EQ(run.status, app::exitOk) << run.err;
    std::vector<Event> statuses = named(parse(run.out), "status");
    ASSERT_EQ(statuses.size(), 7U) << run.out;  // the last is the replay's "Стоп"
    EXPECT_NE(statuses[0].line.find("● Демо-камера"), std::string::npos);
    EXPECT_NE(statuses[1].line.find("Пауза: камера нужна другой программе"), std::string::npos);
    EXPECT_NE(statuses[2].line.find("● Демо-камера"), std::string::npos);
    EXPECT_NE(statuses[5].line.find("Камера не отдана: "), std::string::npos) << "its name: the watcher's tests";
    EXPECT_EQ(statuses[2].frame, statuses[1].frame) << "no frame while the other program holds the camera";
    std::cout << "stepped aside at " << statuses[1].t << " s, back at " << statuses[2].t << " s\n";
}

TEST(NoDisplayTest, TovakSaysWhyAndNamesHeadlessInsteadOfAborting) {
    TempDir folder("tovak-nodisplay");
    const struct Row {
        const char* environment;
        int status;
        const char* message;
    } rows[] = {
        {"", 1, "tovak: нет дисплея (не заданы DISPLAY и WAYLAND_DISPLAY). Без окна: tovak --headless\n"},
        {"DISPLAY=:4093", 1, "tovak: дисплей :4093 не отвечает. Без окна: tovak --headless\n"},
        {"QT_QPA_PLATFORM=wayland DISPLAY=:4093", 1,
         "tovak: нет дисплея (не заданы DISPLAY и WAYLAND_DISPLAY). Без окна: tovak --headless\n"},
        {"QT_QPA_PLATFORM=offscreen", 2, "tovak: no such file or folder: "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.environment);
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TOVAK_INSTANCE_NAME='" +
                                    (folder / "instance") + "' " + row.environment + " '" TOVAK_BINARY "' --camera '" +
                                    (folder / "missing.mp4") + "' 2>&1 >/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string err;
        for (char buffer[256]; std::fgets(buffer, sizeof buffer, pipe) != nullptr;) {
            err += buffer;
        }
        const int status = ::pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.status) << status << " " << err;
        if (row.status == 1) {
            EXPECT_EQ(err, row.message);
        } else {
            EXPECT_NE(err.find(row.message), std::string::npos) << err;
        }
    }
}

}  // namespace
}  // namespace tovak::testing

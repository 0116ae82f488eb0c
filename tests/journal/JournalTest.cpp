// The journal: what the recorder makes of the engine's decisions, the line format, and the store on
// disk (private modes under any umask, expiry after 30 days, damaged lines, failed writes, pictures;
// planted links and files, failing reads, a second writer).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include "journal/JournalLine.h"
#include "journal/JournalRecorder.h"
#include "journal/JournalStore.h"
#include "support/MonitorHarness.h"
#include "support/TempDir.h"

using namespace tovak;
using namespace tovak::testing;
using journal::Incident;
using journal::IncidentKind;
using journal::JournalLine;
using journal::JournalRecorder;
using journal::JournalStore;

// Reads of the file with this inode fail with EIO past this many bytes, as a failing disk's do.
std::atomic<ino_t> gFailingInode{0};
std::atomic<off_t> gFailPast{0};
extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    struct stat info {};
    if (gFailingInode != 0 && ::fstat(fd, &info) == 0 && info.st_ino == gFailingInode) {
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        if (at >= gFailPast) {
            errno = EIO;
            return -1;
        }
        size = std::min(size, static_cast<size_t>(gFailPast - at));
    }
    return ::syscall(SYS_read, fd, buffer, size);
}

namespace {

namespace fs = std::filesystem;

// A locker that keeps its answers for the test to give.
struct HeldLocker final : monitor::ScreenLocker {
    std::vector<Completion> completions;
    void lockNow(Completion completion) override { completions.push_back(std::move(completion)); }
};

// A monitor on the simulation runtime with a recorder wired in as the application wires it.
struct JournalHarness {
    std::shared_ptr<HeldLocker> held;
    std::shared_ptr<FakeLockWatcher> watcher = std::make_shared<FakeLockWatcher>();
    std::shared_ptr<JournalRecorder> recorder;
    MonitorHarness h{[this](monitor::Ports& deps) {
        deps.lockWatcher = watcher;
        if (held) {
            deps.screenLock = held;
        }
        recorder = JournalRecorder::create(deps.mainQueue, deps.wallClock);
        recorder->wire(deps);
    }};
    std::vector<std::string> statuses;
    std::vector<std::vector<std::uint64_t>> summaries;

    explicit JournalHarness(bool holdLocks = false) : held(holdLocks ? std::make_shared<HeldLocker>() : nullptr) {
        recorder->watch(*h.monitor);
        recorder->setOnStatus([this](const std::string& text) { statuses.push_back(text); });
        recorder->setOnAwaySummary([this](std::vector<std::uint64_t> visits) { summaries.push_back(visits); });
        h.start();
    }
    // Frames with these faces every quarter second up to the clock reading `until`.
    void framesUntil(double until, const MonitorHarness::Faces& faces) {
        while (h.sim.clock.now() + 0.25 <= until) {
            h.frame(faces, 0.25);
        }
    }
    void at(double time) { h.sim.advance(time - h.sim.clock.now()); }
    void screenLocked(bool locked) {
        watcher->onChange(locked);
        h.sim.drain();
    }
    // What the close-up shows now, as the application hands it over.
    void closeupShows(std::uint8_t grey) {
        auto bitmap = std::make_shared<imaging::PixelBuffer>(320, 180);
        bitmap->mutableMat().setTo(cv::Scalar(grey, grey, grey, 255));
        recorder->closeupShown(imaging::Image{bitmap, 320, 180});
    }
    // A visit of one face from `from` to `to` in away mode.
    void visit(double from, double to, std::optional<std::uint8_t> picture = std::nullopt) {
        at(from);
        h.frames(3, h.one, 0.25);
        if (picture) {
            closeupShows(*picture);
        }
        framesUntil(to, h.one);
        h.frames(15, {}, 0.25);
    }
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> list;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find('\n', begin);
        list.push_back(text.substr(begin, end - begin));
        begin = end == std::string::npos ? text.size() : end + 1;
    }
    return list;
}

std::vector<std::string> pictures(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".png") {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

Incident visitAt(double start, double seconds) {
    Incident visit;
    visit.kind = IncidentKind::visit;
    visit.start = start;
    visit.end = start + seconds;
    visit.closeup = true;
    return visit;
}

imaging::PixelBuffer greyPicture() {
    imaging::PixelBuffer picture(240, 240);
    picture.mutableMat().setTo(cv::Scalar(90, 90, 90, 255));
    return picture;
}

}  // namespace

// One entry per onlooker episode, visit and pause, at the times the engine decided them, written
// as one line each when the incident is over; the summary comes at the unlock.
TEST(JournalRecorderTest, EachIncidentIsOneLineWithTheEnginesTimes) {
    JournalHarness j;
    TempDir dir;
    j.recorder->keepIn(std::make_shared<JournalStore>(dir.path().string()), false);

    // 1000 virtual seconds read as 1796637600 (2026-12-07 10:00:00 UTC).
    j.at(1001.0);
    j.h.frames(3, j.h.two, 0.25);     // confirmed at 1001.75
    j.framesUntil(1005.75, j.h.two);  // raised again at 1003.75 and 1005.75
    j.h.frames(15, j.h.one, 0.25);    // the fifteenth frame without the onlooker, 1009.5, ends it

    j.at(1010.0);
    j.h.setAway(true);
    j.visit(1010.0, 1012.0);  // confirmed at 1010.75, locked a second later, gone at 1015.75

    j.at(1016.0);
    j.screenLocked(true);
    EXPECT_TRUE(j.summaries.empty()) << "nothing while the screen is locked";
    j.at(1020.0);
    j.screenLocked(false);  // away mode ends and the camera comes back
    j.h.stop();

    EXPECT_EQ(lines(dir.read("journal.jsonl")),
              (std::vector<std::string>{
                  R"({"kind": "onlooker", "start": 1796637601.750, "end": 1796637609.500, "seconds": 7.750, )"
                  R"("raises": 3})",
                  R"({"kind": "visit", "start": 1796637610.750, "end": 1796637615.750, "seconds": 5.000, )"
                  R"("closeup": true, "lock": "locked"})",
                  R"({"kind": "pause", "reason": "screenLocked", "start": 1796637616.000, "end": 1796637620.000, )"
                  R"("seconds": 4.000})",
              }));
    ASSERT_EQ(j.summaries.size(), 1u);
    ASSERT_EQ(j.summaries[0].size(), 1u);
    EXPECT_EQ(j.recorder->journal().find(j.summaries[0][0])->start, 1796637610.75);
    EXPECT_TRUE(j.statuses.empty());
}

// Episodes the engine drops without an end of their own end where they were dropped; a visit waits
// for its lock's answer before it is written, and one that never comes is written as unanswered.
TEST(JournalRecorderTest, DroppedEpisodesAndLateLockAnswers) {
    JournalHarness j;
    j.at(1001.0);
    j.h.frames(3, j.h.two, 0.25);  // an onlooker from 1001.75...
    j.at(1003.0);
    j.h.setAway(true);  // ...forgotten when away mode goes on
    j.h.services->lockSucceeds = false;
    j.h.services->lockFailure = "Блокировка не сработала: MATE не подтвердил блокировку.";
    j.visit(1004.0, 1006.0);
    j.at(1010.0);
    j.h.stop();  // "Стоп" ends away mode: the summary of its one visit

    const auto& all = j.recorder->journal().incidents();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].kind, IncidentKind::onlooker);
    EXPECT_DOUBLE_EQ(all[0].start, 1796637601.75);
    EXPECT_DOUBLE_EQ(all[0].end, 1796637603.0);
    EXPECT_EQ(all[0].raises, 1);
    EXPECT_EQ(all[1].kind, IncidentKind::visit);
    EXPECT_EQ(all[1].lock, journal::LockOutcome::failed);
    EXPECT_EQ(all[1].lockText, "Блокировка не сработала: MATE не подтвердил блокировку.");
    EXPECT_EQ(j.summaries.size(), 1u);

    // Answers that come after the visit ended, and one that never comes.
    JournalHarness late(true);
    TempDir dir;
    late.recorder->keepIn(std::make_shared<JournalStore>(dir.path().string()), false);
    late.h.setAway(true);
    late.visit(1001.0, 1003.0);  // the lock asked at 1002.75 is not answered before the visit ends
    EXPECT_EQ(dir.read("journal.jsonl"), "") << "the visit waits for its lock's answer";
    ASSERT_EQ(late.held->completions.size(), 1u);
    late.held->completions[0](true, std::nullopt);
    late.h.sim.drain();
    late.h.setAway(false);
    late.h.setAway(true);
    late.visit(1010.0, 1012.0);  // its lock is never answered
    late.h.stop();
    late.recorder->finish();
    const auto written = lines(dir.read("journal.jsonl"));
    ASSERT_EQ(written.size(), 2u);
    EXPECT_NE(written[0].find(R"("start": 1796637601.750, "end": 1796637606.750, "seconds": 5.000, )"
                              R"("closeup": true, "lock": "locked"})"),
              std::string::npos)
        << written[0];
    EXPECT_NE(written[1].find(R"("lock": "unanswered"})"), std::string::npos) << written[1];
    late.held->completions.clear();  // the unanswered completion holds the monitor
}

// The lock when the user left is an entry of its own: from away mode switching itself on to the lock.
TEST(JournalRecorderTest, TheLockWhenTheUserLeftIsAnEntryOfItsOwn) {
    JournalHarness j;
    TempDir dir;
    j.recorder->keepIn(std::make_shared<JournalStore>(dir.path().string()), false);
    j.h.monitor->setLockOnLeave(30.0);
    j.at(1001.0);
    j.framesUntil(1011.5, {});  // nobody from 1001.25: away mode on by itself at 1011.25
    j.at(1042.0);
    j.h.stop();
    EXPECT_EQ(lines(dir.read("journal.jsonl")),
              std::vector<std::string>{R"({"kind": "leave", "start": 1796637611.250, "end": 1796637641.250, )"
                                       R"("seconds": 30.000, "lock": "locked"})"});
}

// Pictures are the visitors' only, and reach the disk only with "Сохранять снимки лиц".
TEST(JournalRecorderTest, VisitorPicturesAreWrittenOnlyWhenAskedAndNeverAnyoneElses) {
    struct Row {
        const char* name;
        bool keepPictures;
        bool onlookerPictureFirst;
        std::optional<std::uint8_t> visitorPicture;
        std::size_t files;
    };
    const Row rows[] = {
        {"pictures off: in memory only", false, false, 200, 0},
        {"pictures on: one file", true, false, 200, 1},
        {"a picture outside a visit is nobody's to keep", true, true, std::nullopt, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        JournalHarness j;
        TempDir dir;
        j.recorder->keepIn(std::make_shared<JournalStore>(dir.path().string()), row.keepPictures);
        if (row.onlookerPictureFirst) {
            j.at(1001.0);
            j.h.frames(3, j.h.two, 0.25);
            j.closeupShows(50);
            j.h.frames(15, j.h.one, 0.25);
        }
        j.h.setAway(true);
        j.visit(1010.0, 1011.0, row.visitorPicture);
        j.h.stop();

        const auto files = pictures(dir.path());
        ASSERT_EQ(files.size(), row.files);
        const Incident& visit = j.recorder->journal().incidents().back();
        ASSERT_EQ(visit.kind, IncidentKind::visit);
        EXPECT_EQ(visit.image != nullptr, row.visitorPicture.has_value());
        if (visit.image) {
            EXPECT_EQ(visit.image->width(), 240);
            EXPECT_EQ(visit.image->mat().at<cv::Vec4b>(120, 120)[0], *row.visitorPicture);
        }
        if (row.files == 1) {
            EXPECT_EQ(visit.picture, files[0]);
            EXPECT_EQ(files[0], "visit-1796637610750.png");
            EXPECT_EQ(dir.read(files[0]).substr(0, 4), "\x89PNG");
            EXPECT_NE(dir.read("journal.jsonl").find(R"("picture": "visit-1796637610750.png"})"), std::string::npos);
        }
    }
}

// A failed write says so once in the status line, and watching goes on.
TEST(JournalRecorderTest, AFailedWriteIsToldOnceAndMonitoringGoesOn) {
    JournalHarness j;
    TempDir dir;
    const std::string notAFolder = dir.write("state", "a file where the folder should be");
    j.recorder->keepIn(std::make_shared<JournalStore>(notAFolder), true);
    for (const double at : {1001.0, 1010.0}) {
        j.at(at);
        j.h.frames(3, j.h.two, 0.25);
        j.h.frames(15, j.h.one, 0.25);
    }
    EXPECT_EQ(j.statuses, std::vector<std::string>{"Журнал: запись не удалась"});
    EXPECT_EQ(j.h.log.count("open:" + kDefaultTrigger), 2u) << "the second onlooker was answered as the first";
    EXPECT_EQ(j.recorder->journal().incidents().size(), 2u) << "the journal in memory goes on";
}

TEST(JournalLineTest, DamagedOrUnknownLinesAreRefusedAndUnknownFieldsPassedOver) {
    struct Row {
        const char* name;
        const char* line;
        bool whole;
    };
    const Row rows[] = {
        {"a failed lock with an escaped message",
         R"({"kind": "visit", "start": 10.5, "end": 12, "seconds": 1.5, "closeup": false, "lock": "failed", )"
         R"("lockText": "MATE \"не\"\u0020ответил", "picture": "visit-10500.png"})",
         true},
        {"fields of a later version",
         R"({"kind": "pause", "reason": "user", "start": 1, "end": 2, "x": null, "y": "z"})", true},
        {"a picture path out of the folder is dropped",
         R"({"kind": "visit", "start": 1, "end": 2, "closeup": true, "lock": "none", "picture": "../../x.png"})", true},
        {"truncated", R"({"kind": "onlooker", "start": 1, "end": 2, "rai)", false},
        {"unknown kind", R"({"kind": "party", "start": 1, "end": 2})", false},
        {"unknown pause", R"({"kind": "pause", "reason": "lunch", "start": 1, "end": 2})", false},
        {"a lock on leaving without its outcome", R"({"kind": "leave", "start": 1, "end": 31})", false},
        {"ends before it starts", R"({"kind": "onlooker", "start": 5, "end": 2, "raises": 1})", false},
        {"before 1970", R"({"kind": "onlooker", "start": -1, "end": 2, "raises": 1})", false},
        {"past year 5000", R"({"kind": "pause", "reason": "user", "start": 1, "end": 1e11})", false},
        {"no raises", R"({"kind": "onlooker", "start": 1, "end": 2})", false},
        {"not an object", "[1, 2]", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(journal::JournalLine::decode(row.line).has_value(), row.whole);
    }
    const auto visit = journal::JournalLine::decode(rows[0].line);
    ASSERT_TRUE(visit);
    EXPECT_EQ(visit->lockText, "MATE \"не\" ответил");
    EXPECT_EQ(visit->picture, "visit-10500.png");
    EXPECT_EQ(journal::JournalLine::decode(rows[2].line)->picture, "");
    EXPECT_EQ(journal::JournalLine::encode(*visit),
              R"({"kind": "visit", "start": 10.500, "end": 12.000, "seconds": 1.500, "closeup": false, )"
              R"("lock": "failed", "lockText": "MATE \"не\" ответил", "picture": "visit-10500.png"})");
}

// Only the owner can read the journal, whatever the umask, and modes found looser are tightened.
TEST(JournalStoreTest, PrivateModesWhateverTheUmask) {
    struct Row {
        const char* name;
        fs::path path;
        mode_t mode;
    };
    const mode_t saved = ::umask(0);
    // 000 leaves every bit asked for; 0277 would take the owner's own writing and searching.
    for (const mode_t mask : {mode_t{0}, mode_t{0277}}) {
        ::umask(mask);
        TempDir dir;
        const fs::path folder = dir.path() / "state" / "tovak";
        JournalStore store(folder.string());
        ASSERT_TRUE(store.prepare());
        ASSERT_TRUE(store.append(visitAt(1796637600.0, 3)));
        const auto picture = store.savePicture(1796637600.0, greyPicture());
        ASSERT_TRUE(picture);
        const Row made[] = {{"the state folder", dir.path() / "state", 0700},
                            {"its tovak folder", folder, 0700},
                            {"the journal", folder / "journal.jsonl", 0600},
                            {"a picture", folder / *picture, 0600}};
        for (const Row& row : made) {
            SCOPED_TRACE("made under umask " + std::to_string(mask) + ": " + row.name);
            EXPECT_EQ(modeOf(row.path), row.mode);
        }
        if (mask != 0) {
            continue;
        }
        ::chmod(folder.c_str(), 0777);
        ::chmod((folder / "journal.jsonl").c_str(), 0666);
        ::chmod((folder / *picture).c_str(), 0644);
        ASSERT_TRUE(JournalStore(folder.string()).prepare());
        for (const Row& row : made) {
            SCOPED_TRACE(std::string("found loose: ") + row.name);
            EXPECT_EQ(modeOf(row.path), row.mode);
        }

        // A file named on the command line: the file is private, its folder the user's business.
        ::chmod(dir.path().c_str(), 0777);
        JournalStore named(dir.path().string(), "replay.jsonl", JournalStore::Folder::shared);
        ASSERT_TRUE(named.prepare());
        ASSERT_TRUE(named.append(visitAt(10, 1)));
        EXPECT_EQ(modeOf(dir.path() / "replay.jsonl"), 0600u);
        EXPECT_EQ(modeOf(dir.path()), 0777u);
    }
    ::umask(saved);
}

TEST(JournalStoreTest, EntriesAndPicturesExpireAfterThirtyDaysOnTheSimulationClock) {
    runtime::Simulation sim;
    TempDir dir;
    JournalStore store(dir.path().string());
    const double visitAtStart = sim.wall.now();
    ASSERT_TRUE(store.append(visitAt(visitAtStart, 4)));
    dir.write("visit-1-holiday.png", "");
    const auto picture = store.savePicture(visitAtStart, greyPicture());
    ASSERT_TRUE(picture);
    sim.advance(3600);
    ASSERT_TRUE(store.append(visitAt(sim.wall.now(), 2)));  // an hour younger

    sim.wall.jump(30 * 86400.0 - 3600 - 1);  // the first is 30 days less a second old
    JournalStore::Loaded loaded = store.load(sim.wall.now());
    EXPECT_EQ(loaded.incidents.size(), 2u);
    EXPECT_EQ(loaded.expired, 0u);
    EXPECT_TRUE(fs::exists(dir.path() / *picture));

    sim.wall.jump(2);  // and now 30 days and a second
    loaded = store.load(sim.wall.now());
    ASSERT_EQ(loaded.incidents.size(), 1u);
    EXPECT_EQ(loaded.incidents[0].start, visitAtStart + 3600);
    EXPECT_EQ(loaded.expired, 2u) << "the entry and its picture";
    EXPECT_FALSE(fs::exists(dir.path() / *picture));
    EXPECT_EQ(lines(dir.read("journal.jsonl")).size(), 1u) << "gone from the file too";
    EXPECT_EQ(modeOf(dir.path() / "journal.jsonl"), 0600u);
    EXPECT_TRUE(store.clear());
    EXPECT_EQ(pictures(dir.path()), std::vector<std::string>{"visit-1-holiday.png"}) << "the user's own picture stays";
}

// A truncated last line or a damaged one is passed over; the rest loads, and what is appended after
// a cut-off line starts on a line of its own.
TEST(JournalStoreTest, DamagedLinesAreSkippedAndNeverSwallowWhatFollows) {
    const std::string good1 = journal::JournalLine::encode(visitAt(1796637600.0, 3));
    const std::string good2 = journal::JournalLine::encode(visitAt(1796637700.0, 5));
    const std::string text =
        good1 + "\n{\"kind\": \"visit\", \"sta\xff\n" + good2 + "\n{\"kind\": \"onlooker\", \"start\": 17966";
    for (const bool loadFirst : {true, false}) {
        SCOPED_TRACE(loadFirst ? "loaded, then appended" : "appended before any load");
        TempDir dir;
        dir.write("journal.jsonl", text);
        JournalStore store(dir.path().string());
        if (loadFirst) {
            const auto loaded = store.load(1796637800.0);
            EXPECT_EQ(loaded.incidents.size(), 2u);
            EXPECT_EQ(loaded.skipped, 2u);
        }
        ASSERT_TRUE(store.append(visitAt(1796637790.0, 1)));
        const auto loaded = store.load(1796637800.0);
        ASSERT_EQ(loaded.incidents.size(), 3u);
        EXPECT_EQ(loaded.incidents[2].start, 1796637790.0);
        EXPECT_EQ(loaded.skipped, loadFirst ? 0u : 2u);
        EXPECT_TRUE(store.load(1796637800.0).ok);
    }
}

// A folder that cannot be written: the write fails as a value and what was kept still loads.
TEST(JournalStoreTest, AReadOnlyFolderFailsTheWriteAndStillLoads) {
    TempDir dir;
    JournalStore store(dir.path().string());
    ASSERT_TRUE(store.append(visitAt(1796637600.0, 3)));
    // Permission bits do not stop root: a read-only mount does, in a mount namespace of a child's own.
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string folder = dir.path().string();
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            ::_exit(77);
        }
        const bool refused = !store.append(visitAt(1796637610.0, 1)) && !store.savePicture(1796637610.0, greyPicture());
        const bool loads = store.load(1796637700.0).incidents.size() == 1;
        ::_exit(refused && loads ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no mount namespace here (needs root): the read-only folder is not tried";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the write was not refused or the journal did not load";
}

// A link planted in the folder, or another account's file, never gets the journal's lines.
TEST(JournalStoreTest, NeverThroughALinkNorIntoAnotherAccountsFile) {
    using Kind = JournalStore::Folder;
    // Where a link is planted and to what (none: the journal is given to nobody, 65534, as root can).
    const std::tuple<const char*, Kind, const char*, const char*, bool> rows[] = {
        {"the journal a link", Kind::owned, "j/journal.jsonl", "o/journal.jsonl", false},
        {"the folder a link", Kind::owned, "j", "o", false},
        {"a named journal a link", Kind::shared, "j/journal.jsonl", "o/journal.jsonl", false},
        {"a named journal a link to root's device, as /dev/stdout is", Kind::shared, "j/journal.jsonl", "/dev/null",
         true},
        {"another account's file (tried as root)", Kind::owned, "j/journal.jsonl", nullptr, false},
    };
    for (const auto& [name, kind, at, to, kept] : rows) {
        SCOPED_TRACE(name);
        TempDir dir;
        dir.write("o/journal.jsonl", "mine");
        if (std::string(at) != "j") {
            fs::create_directory(dir.path() / "j");
        }
        const bool planted =
            to == nullptr ? ::chown(dir.write(at, "mine").c_str(), 65534, 65534) == 0
                          : ::symlink((to[0] == '/' ? std::string(to) : dir / to).c_str(), (dir / at).c_str()) == 0;
        if (planted) {
            JournalStore store(dir / "j", JournalStore::defaultFileName, kind);
            EXPECT_EQ(store.append(visitAt(1796637600.0, 3)), kept);
            EXPECT_EQ(store.load(1796637600.0).whole, kept);
            EXPECT_EQ(dir.read(to == nullptr ? at : "o/journal.jsonl"), "mine");
        }
    }
}

// Expiry and "Очистить журнал" remove the pictures Tovak saved and nothing else of the folder's.
TEST(JournalStoreTest, OnlyTheNamesTovakWritesArePictures) {
    for (const char* name : {"visit-1000.png", "visit-1000-2.png", "visit-1000-99.png", "visit-0.png"}) {
        EXPECT_TRUE(JournalStore::pictureTime(name)) << name;
    }
    for (const char* name : {"visit-2024-holiday.png", "visit-01.png", "visit-1000-1.png", "visit-1000-100.png",
                             "visit-1000-02.png", "visit-.png", "visit-1000.png.bak", "visit-1000.PNG", "visit-+1.png",
                             "visit-1000-.png", "visit-1000-2-2.png"}) {
        EXPECT_FALSE(JournalStore::pictureTime(name)) << name;
    }
}

// A read that fails part way (EIO, injected) shows the whole lines before it and rewrites nothing,
// even where something expired.
TEST(JournalStoreTest, AReadThatFailsPartWayRewritesNothing) {
    TempDir dir;
    const std::string expired = JournalLine::encode(visitAt(10.0, 1)) + "\n";
    const std::string first = JournalLine::encode(visitAt(1796637600.0, 3)) + "\n";
    const std::string text = expired + first + JournalLine::encode(visitAt(1796637700.0, 5)) + "\n";
    struct stat info {};
    ASSERT_EQ(::stat(dir.write("journal.jsonl", text).c_str(), &info), 0);
    JournalStore store(dir.path().string());
    gFailPast = static_cast<off_t>(expired.size() + first.size() + 10);
    gFailingInode = info.st_ino;
    const JournalStore::Loaded loaded = store.load(1796637800.0);
    gFailingInode = 0;
    EXPECT_FALSE(loaded.whole);
    ASSERT_EQ(loaded.incidents.size(), 1u);
    EXPECT_EQ(loaded.skipped, 0u) << "the line the failure cut is not damage";
    EXPECT_EQ(dir.read("journal.jsonl"), text);
}

// Someone waits for the lock of this inode ("->" marks a waiter in /proc/locks).
bool someoneWaitsForTheLock(ino_t inode) {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line) && (line.find("->") == std::string::npos ||
                                         line.find(":" + std::to_string(inode) + " ") == std::string::npos)) {
    }
    return !locks.fail();
}

// A second writer (another Tovak, a headless run on the same file) holds the lock while it writes:
// a rewrite waits and reads its line, an append waits and goes into the file it rewrote.
TEST(JournalStoreTest, ASecondWriterNeverLosesALine) {
    const std::string expired = JournalLine::encode(visitAt(10.0, 1)) + "\n";
    const std::string kept = JournalLine::encode(visitAt(1796637600.0, 3)) + "\n";
    const std::string other = JournalLine::encode(visitAt(1796637700.0, 5)) + "\n";
    for (const bool appending : {false, true}) {
        SCOPED_TRACE(appending ? "an append waits for the other's rewrite" : "a rewrite waits for the other's line");
        TempDir dir;
        JournalStore store(dir.path().string());
        const int held = ::open(dir.write("journal.jsonl", expired + kept).c_str(), O_RDWR | O_APPEND);
        struct stat info {};
        ASSERT_TRUE(::flock(held, LOCK_EX) == 0 && ::fstat(held, &info) == 0);
        std::thread ours([&] {
            static_cast<void>(appending ? store.append(visitAt(1796637700.0, 5)) : store.load(1796637800.0).ok);
        });
        for (int i = 0; i < 3000 && !someoneWaitsForTheLock(info.st_ino); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(someoneWaitsForTheLock(info.st_ino)) << "nobody waited for the lock";
        if (appending) {
            fs::rename(dir.write("journal.jsonl.other", kept), dir / "journal.jsonl");
        } else {
            EXPECT_EQ(::write(held, other.data(), other.size()), static_cast<ssize_t>(other.size()));
        }
        ::close(held);
        ours.join();
        EXPECT_EQ(dir.read("journal.jsonl"), kept + other);
    }
}

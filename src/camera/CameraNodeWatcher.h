#pragma once

#include <sys/types.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "camera/OpenerBudget.h"

namespace tovak::camera {

// What the watcher saw another program do with the camera's node.
struct NodeEvent {
    enum class Kind {
        // Another process opened the node: give the camera up. Told once until cameraFree.
        otherOpened,
        // After otherOpened (or holdOff): no other process has had the node mapped (streaming) for
        // the free delay. A process that keeps the node open without mapping it does not count.
        cameraFree,
        // The watch can no longer be trusted: events were lost (queue overflow), the node went or
        // was replaced, or a new camera node appeared beside it. Nothing more is told after it.
        lost,
        // A program kept opening the node without streaming and has used up the pause it may cost:
        // its opens are not told for a while. Told once per watch.
        ignored,
    };
    Kind kind = Kind::otherOpened;
    // otherOpened, ignored: the process that opened the node (0 when it had closed it again before
    // it could be seen) and its executable's file name (its comm where /proc shows no executable).
    pid_t pid = 0;
    std::string program;
    // lost: why, for the log.
    std::string reason;
};

// Watches a camera's device node (or any file standing in for one) for other processes opening,
// mapping and closing it. It does not poll: its thread sleeps in poll() on an inotify descriptor
// (IN_OPEN, IN_CLOSE_*, the node's removal, new nodes beside it) and reads /proc only when an event
// comes: which processes other than this one have the node open (/proc/PID/fd) and which have it
// mapped (/proc/PID/maps), each process known by its PID and start time so a reused PID is a new
// process. While another program holds the camera off, the processes seen mapping are looked at
// again each free delay, because unmapping makes no inotify event. However fast the events come,
// the process table is read for them at most scansPerSecond times in any second.
//
// Streaming is yielded to every time. The pause that opens cause beyond what streaming needed (a
// mapping seen, or a refusal as busy, and the free delay after it) is charged to their programs, by
// executable: each may cost at most noStreamPauseSeconds in any noStreamWindowSeconds, the pause
// ending early when the last of them has used up its share; after that their opens are ignored
// until the window lets them.
//
// An open that left no new descriptor behind by the time /proc is read (a program refused at its
// format request closes at once) and that this process did not note as its own (noteOwnOpen) is
// taken as another program's, whose PID is then unknown.
//
// Callbacks run on the watcher's own thread, one at a time; post them to the queue that owns the
// camera (the session queue) and never destroy the watcher from inside one.
class CameraNodeWatcher {
  public:
    struct Options {
        // No mapping by another process for this long after its last one seen: cameraFree. A process
        // that opens and never maps (a probe, PipeWire keeping the node open) costs one such delay.
        double freeAfterSeconds = 2.0;
        double noStreamPauseSeconds = 3.0;
        double noStreamWindowSeconds = 60.0;
        int scansPerSecond = 4;
        // Where the process table is read; tests give a tree of their own.
        std::string procRoot = "/proc";
        // The process whose opens are its own; 0 for this one.
        pid_t selfPid = 0;
    };
    using Callback = std::function<void(const NodeEvent&)>;

    // Starts watching nodePath. The processes that already have it open are known from the start;
    // if one of them already has it mapped, otherOpened comes at once. None, with the reason in
    // error, when the node cannot be watched.
    [[nodiscard]] static std::unique_ptr<CameraNodeWatcher> start(const std::string& nodePath, Callback callback,
                                                                  Options options, std::string& error);
    [[nodiscard]] static std::unique_ptr<CameraNodeWatcher> start(const std::string& nodePath, Callback callback,
                                                                  std::string& error) {
        return start(nodePath, std::move(callback), Options{}, error);
    }

    // Stops the thread; no callback runs once this returns.
    ~CameraNodeWatcher();
    CameraNodeWatcher(const CameraNodeWatcher&) = delete;
    CameraNodeWatcher& operator=(const CameraNodeWatcher&) = delete;

    // Any thread, before opening a node: tells every watcher of it that the open is this process's.
    // The real V4L2 calls do it.
    static void noteOwnOpen(const std::string& path);

    // How often the process table was read for events so far; any thread.
    [[nodiscard]] unsigned long eventScans() const { return eventScans_; }

    // Any thread: the camera was refused as busy, so another program streams. Behaves as if one
    // had opened the node just now: cameraFree comes once no other process has had it mapped for
    // the free delay (no otherOpened is told for it).
    void holdOff();

  private:
    // A process, told from a later one with the same PID by its start time.
    using Process = std::pair<pid_t, unsigned long long>;
    struct Seen {
        // Other processes' descriptors on the node, as (process, fd).
        std::set<std::pair<Process, int>> descriptors;
        // Each holder's name, and its executable's path (empty where /proc shows none).
        std::map<Process, std::string> programs;
        std::map<Process, std::string> executables;
        std::map<Process, pid_t> parents;
        std::set<Process> mapping;
        std::set<int> selfDescriptors;
    };

    CameraNodeWatcher(Options options, Callback callback);
    void run();
    [[nodiscard]] Seen scan() const;
    [[nodiscard]] bool maps(const Process& process) const;
    // The start time of a process, 0 when it is gone; its parent too when asked.
    [[nodiscard]] unsigned long long startTime(pid_t pid, pid_t* parent = nullptr) const;
    // Takes in a batch of inotify events for the next scan; false once the watch is lost.
    bool readEvents();
    [[nodiscard]] double nextScanAt() const;
    void afterScan(Seen seen, long opens);
    // New openers of the node (PID 0: one /proc does not show), told or ignored as the budget says.
    void opened(const Seen& seen, const std::vector<Process>& openers, double at);
    // A program whose opens hold the pause: when it first and last did, and how much pause it may cost.
    struct Culprit {
        double joined, share, opened;
    };
    [[nodiscard]] double heldUntil() const;
    [[nodiscard]] double heldBy(const Culprit& culprit) const;
    // Where its share begins: at its open, or once the streaming no longer needed the pause.
    [[nodiscard]] double chargedFrom(const Culprit& culprit) const;
    [[nodiscard]] unsigned long ownOpens() const;
    void checkHeld();
    void tell(NodeEvent event);

    Options options_;
    Callback callback_;
    std::string path_;       // canonical
    std::string name_;       // file name in its folder
    unsigned long dev_ = 0;  // st_dev of the node
    unsigned long ino_ = 0;
    int inotify_ = -1;
    int nodeWatch_ = -1;
    int folderWatch_ = -1;
    int wake_ = -1;  // eventfd: stop or holdOff
    std::atomic<bool> stopping_{false};
    std::atomic<bool> holdOffAsked_{false};
    std::atomic<unsigned long> eventScans_{0};
    std::thread thread_;

    // The watcher thread's own state.
    Seen last_;
    unsigned long ownOpensSeen_ = 0;
    bool held_ = false;
    double lastMapped_ = 0;  // seconds on the steady clock: the last mapping seen, or refusal as busy
    // Events not yet looked into, and when the process table was read for the last ones.
    bool scanPending_ = false;
    long pendingOpens_ = 0;
    std::deque<double> scans_;
    std::map<std::string, Culprit> culprits_;
    OpenerBudget budget_;
    bool toldIgnored_ = false;
};

}  // namespace tovak::camera

#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>

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
    };
    Kind kind = Kind::otherOpened;
    // otherOpened: the process that opened the node (0 when it had closed it again before it
    // could be seen) and its name from /proc/PID/comm.
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
// again each free delay, because unmapping makes no inotify event.
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

    // Any thread: the camera was refused as busy. Behaves as if another process had opened the
    // node just now: cameraFree comes once no other process has had it mapped for the free delay
    // (no otherOpened is told for it).
    void holdOff();

  private:
    // A process, told from a later one with the same PID by its start time.
    using Process = std::pair<pid_t, unsigned long long>;
    struct Seen {
        // Other processes' descriptors on the node, as (process, fd).
        std::set<std::pair<Process, int>> descriptors;
        std::map<Process, std::string> programs;
        std::set<Process> mapping;
        std::set<int> selfDescriptors;
    };

    CameraNodeWatcher(Options options, Callback callback);
    void run();
    [[nodiscard]] Seen scan() const;
    [[nodiscard]] bool maps(const Process& process) const;
    [[nodiscard]] unsigned long long startTime(pid_t pid) const;
    // Handles a batch of inotify events; false once the watch is lost.
    bool readEvents();
    void afterScan(Seen seen, long opens);
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
    std::thread thread_;

    // The watcher thread's own state.
    Seen last_;
    unsigned long ownOpensSeen_ = 0;
    bool held_ = false;
    double lastMapped_ = 0;  // seconds on the steady clock
};

}  // namespace tovak::camera

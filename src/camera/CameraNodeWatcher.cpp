#include "camera/CameraNodeWatcher.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

namespace tovak::camera {

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// This process's own opens of each node, by device and inode.
std::mutex ownOpensMutex;
std::map<std::pair<unsigned long, unsigned long>, unsigned long> ownOpensByNode;

std::string readLink(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

bool isNumber(const char* text) {
    return *text != '\0' && std::all_of(text, text + std::strlen(text), [](char c) { return c >= '0' && c <= '9'; });
}

// A name from /proc as the status line may show it: no control characters, at most 40 bytes.
std::string shownName(std::string name) {
    std::replace_if(
        name.begin(), name.end(), [](char c) { return (c >= 0 && c < ' ') || c == 0x7f; }, '?');
    if (name.size() > 40) {
        std::size_t cut = 40;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a character
        }
        name.resize(cut);
    }
    return name;
}

template <typename Each>
void forEachNumberedEntry(const std::string& folder, Each each) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (isNumber(entry->d_name)) {
            each(entry->d_name);
        }
    }
    ::closedir(dir);
}

}  // namespace

void CameraNodeWatcher::noteOwnOpen(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return;
    }
    std::lock_guard lock(ownOpensMutex);
    ++ownOpensByNode[{info.st_dev, info.st_ino}];
}

unsigned long CameraNodeWatcher::ownOpens() const {
    std::lock_guard lock(ownOpensMutex);
    const auto found = ownOpensByNode.find({dev_, ino_});
    return found == ownOpensByNode.end() ? 0 : found->second;
}

CameraNodeWatcher::CameraNodeWatcher(Options options, Callback callback)
    : options_(std::move(options)),
      callback_(std::move(callback)),
      budget_(options_.noStreamPauseSeconds, options_.noStreamWindowSeconds) {
    if (options_.selfPid == 0) {
        options_.selfPid = ::getpid();
    }
}

std::unique_ptr<CameraNodeWatcher> CameraNodeWatcher::start(const std::string& nodePath, Callback callback,
                                                            Options options, std::string& error) {
    std::unique_ptr<CameraNodeWatcher> watcher(new CameraNodeWatcher(std::move(options), std::move(callback)));
    char resolved[PATH_MAX];
    struct stat info {};
    if (::realpath(nodePath.c_str(), resolved) == nullptr || ::stat(resolved, &info) != 0) {
        error = nodePath + ": " + std::strerror(errno);
        return nullptr;
    }
    watcher->path_ = resolved;
    watcher->dev_ = info.st_dev;
    watcher->ino_ = info.st_ino;
    const std::string::size_type slash = watcher->path_.rfind('/');
    const std::string folder = slash == 0 ? "/" : watcher->path_.substr(0, slash);
    watcher->name_ = watcher->path_.substr(slash + 1);

    // Who holds the node already is known before the first event can come.
    watcher->last_ = watcher->scan();
    watcher->ownOpensSeen_ = watcher->ownOpens();
    watcher->inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    watcher->wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (watcher->inotify_ < 0 || watcher->wake_ < 0) {
        error = std::string("inotify: ") + std::strerror(errno);
        return nullptr;
    }
    // Unlinking or renaming the node is seen on its folder (its own IN_ATTRIB would also come for
    // every change of permissions).
    watcher->nodeWatch_ =
        ::inotify_add_watch(watcher->inotify_, resolved, IN_OPEN | IN_CLOSE | IN_DELETE_SELF | IN_MOVE_SELF);
    watcher->folderWatch_ = ::inotify_add_watch(watcher->inotify_, folder.c_str(),
                                                IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR);
    if (watcher->nodeWatch_ < 0 || watcher->folderWatch_ < 0) {
        error = watcher->path_ + ": inotify: " + std::strerror(errno);
        return nullptr;
    }
    watcher->thread_ = std::thread([self = watcher.get()] { self->run(); });
    return watcher;
}

CameraNodeWatcher::~CameraNodeWatcher() {
    stopping_ = true;
    if (wake_ >= 0) {
        (void)::eventfd_write(wake_, 1);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    for (const int fd : {inotify_, wake_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void CameraNodeWatcher::holdOff() {
    holdOffAsked_ = true;
    (void)::eventfd_write(wake_, 1);
}

void CameraNodeWatcher::tell(NodeEvent event) {
    if (callback_ && !stopping_) {
        callback_(event);
    }
}

unsigned long long CameraNodeWatcher::startTime(pid_t pid, pid_t* parent) const {
    std::ifstream in(options_.procRoot + "/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The name in parentheses may hold spaces and parentheses; the fields after it are plain.
    const std::string::size_type close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    // state is field 3, the parent field 4 and starttime field 22 of the whole line.
    for (int index = 3; index <= 22 && fields >> field; ++index) {
        if (index == 4 && parent != nullptr) {
            *parent = static_cast<pid_t>(std::strtol(field.c_str(), nullptr, 10));
        } else if (index == 22) {
            return std::strtoull(field.c_str(), nullptr, 10);
        }
    }
    return 0;
}

bool CameraNodeWatcher::maps(const Process& process) const {
    if (startTime(process.first) != process.second) {
        return false;  // gone, or its PID now names another process
    }
    std::ifstream in(options_.procRoot + "/" + std::to_string(process.first) + "/maps");
    std::string line;
    while (std::getline(in, line)) {
        // address perms offset major:minor inode path
        std::istringstream fields(line);
        std::string address, perms, offset, device, path;
        unsigned long inode = 0;
        if (!(fields >> address >> perms >> offset >> device >> inode) || inode == 0) {
            continue;
        }
        std::getline(fields >> std::ws, path);
        unsigned int major = 0, minor = 0;
        const bool sameFile = std::sscanf(device.c_str(), "%x:%x", &major, &minor) == 2 && inode == ino_ &&
                              ::makedev(major, minor) == dev_;
        if (sameFile || path == path_) {
            return true;
        }
    }
    return false;
}

CameraNodeWatcher::Seen CameraNodeWatcher::scan() const {
    Seen seen;
    std::set<Process> holders;
    forEachNumberedEntry(options_.procRoot, [&](const char* pidText) {
        const pid_t pid = static_cast<pid_t>(std::strtol(pidText, nullptr, 10));
        const std::string fdFolder = options_.procRoot + "/" + pidText + "/fd";
        std::vector<int> fds;
        forEachNumberedEntry(fdFolder, [&](const char* fdText) {
            if (readLink(fdFolder + "/" + fdText) == path_) {
                fds.push_back(std::atoi(fdText));
            }
        });
        if (pid == options_.selfPid) {
            seen.selfDescriptors.insert(fds.begin(), fds.end());
            return;
        }
        if (fds.empty()) {
            return;
        }
        pid_t parent = 0;
        const Process process{pid, startTime(pid, &parent)};
        seen.parents[process] = parent;
        for (const int fd : fds) {
            seen.descriptors.insert({process, fd});
        }
        holders.insert(process);
    });
    // A mapping outlives its descriptor: the mappers seen before are looked at again too.
    std::set<Process> candidates = holders;
    candidates.insert(last_.mapping.begin(), last_.mapping.end());
    for (const Process& process : candidates) {
        if (maps(process)) {
            seen.mapping.insert(process);
        }
    }
    for (const Process& process : holders) {
        const std::string folder = options_.procRoot + "/" + std::to_string(process.first);
        const std::string executable = readLink(folder + "/exe");
        seen.executables[process] = executable;
        std::string& name = seen.programs[process];
        if (executable.empty()) {
            std::ifstream in(folder + "/comm");
            std::getline(in, name);
        } else {
            name = executable.substr(executable.rfind('/') + 1);
        }
        name = shownName(name);
    }
    return seen;
}

void CameraNodeWatcher::run() {
    if (!last_.mapping.empty()) {
        // Started while another program streams: the camera is theirs until they let go.
        held_ = true;
        lastMapped_ = now();
        const Process& process = *last_.mapping.begin();
        const auto program = last_.programs.find(process);
        tell({NodeEvent::Kind::otherOpened, process.first, program == last_.programs.end() ? "" : program->second, {}});
    }
    for (;;) {
        double wakeAt = held_ ? heldUntil() : INFINITY;
        if (scanPending_) {
            wakeAt = std::min(wakeAt, nextScanAt());
        }
        const int timeoutMs = std::isinf(wakeAt)
                                  ? -1
                                  : static_cast<int>(std::clamp((wakeAt - now()) * 1000.0 + 1.0, 0.0, double(INT_MAX)));
        pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (stopping_) {
            return;
        }
        if (ready < 0 && errno != EINTR) {
            tell({NodeEvent::Kind::lost, 0, {}, std::string("poll: ") + std::strerror(errno)});
            return;
        }
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            eventfd_t count = 0;
            (void)::eventfd_read(wake_, &count);
            if (holdOffAsked_.exchange(false)) {
                // Refused as busy: somebody streams.
                if (!held_) {
                    held_ = true;
                    culprits_.clear();
                }
                lastMapped_ = now();
            }
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0 && !readEvents()) {
            return;
        }
        if (scanPending_ && now() >= nextScanAt()) {
            scanPending_ = false;
            ++eventScans_;
            scans_.push_back(now());
            if (scans_.size() > static_cast<std::size_t>(std::max(1, options_.scansPerSecond))) {
                scans_.pop_front();
            }
            afterScan(scan(), std::exchange(pendingOpens_, 0));
        }
        if (held_ && now() >= heldUntil()) {
            checkHeld();
        }
    }
}

double CameraNodeWatcher::nextScanAt() const {
    // As many scans in any second as allowed: the next once the oldest of them is a second old.
    return scans_.size() < static_cast<std::size_t>(std::max(1, options_.scansPerSecond)) ? 0 : scans_.front() + 1.0;
}

double CameraNodeWatcher::heldUntil() const {
    double until = lastMapped_ + options_.freeAfterSeconds;
    for (const auto& [program, culprit] : culprits_) {
        until = std::max(until, heldBy(culprit));
    }
    return until;
}

// An open holds Tovak off for the free delay, as streaming does after its last mapping, but for no
// longer than its program's share of pause beyond what the streaming needed.
double CameraNodeWatcher::heldBy(const Culprit& culprit) const {
    return std::min(culprit.opened + options_.freeAfterSeconds, chargedFrom(culprit) + culprit.share);
}

double CameraNodeWatcher::chargedFrom(const Culprit& culprit) const {
    return std::max(culprit.joined, lastMapped_ + options_.freeAfterSeconds);
}

bool CameraNodeWatcher::readEvents() {
    long opens = 0;
    bool changed = false;
    std::string lostReason;
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t length = ::read(inotify_, buffer, sizeof buffer);
        if (length <= 0) {
            break;
        }
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const std::string name = event->len > 0 ? std::string(event->name) : std::string();
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                lostReason = "events were lost (inotify queue overflow)";
            } else if (event->wd == nodeWatch_) {
                if ((event->mask & IN_OPEN) != 0) {
                    ++opens;
                }
                changed = changed || (event->mask & (IN_OPEN | IN_CLOSE)) != 0;
                if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) != 0) {
                    lostReason = "the camera's node " + path_ + " was removed";
                }
            } else if (event->wd == folderWatch_) {
                if ((event->mask & IN_IGNORED) != 0 ||
                    (name == name_ && (event->mask & (IN_DELETE | IN_MOVED_FROM)) != 0)) {
                    lostReason = "the camera's node " + path_ + " was removed";
                } else if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0 && name == name_) {
                    lostReason = "the camera's node " + path_ + " was replaced";
                } else if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0 && name.rfind("video", 0) == 0) {
                    lostReason = "a new camera node " + name + " appeared";
                }
            }
        }
    }
    if (!lostReason.empty()) {
        tell({NodeEvent::Kind::lost, 0, {}, lostReason});
        return false;
    }
    pendingOpens_ += opens;
    scanPending_ = scanPending_ || changed;
    return true;
}

void CameraNodeWatcher::afterScan(Seen seen, long opens) {
    const double at = now();
    // Opens this process noted as its own, beyond what earlier batches used up.
    const unsigned long own = ownOpens();
    const long noted = static_cast<long>(own - ownOpensSeen_);
    std::vector<std::pair<Process, int>> fresh;
    std::set_difference(seen.descriptors.begin(), seen.descriptors.end(), last_.descriptors.begin(),
                        last_.descriptors.end(), std::back_inserter(fresh));
    long freshSelf = 0;
    for (const int fd : seen.selfDescriptors) {
        freshSelf += last_.selfDescriptors.count(fd) == 0 ? 1 : 0;
    }
    const long unexplained = opens - std::max(noted, freshSelf) - static_cast<long>(fresh.size());
    // An own open whose event comes in a later batch is kept for it.
    ownOpensSeen_ = noted > opens ? ownOpensSeen_ + static_cast<unsigned long>(opens) : own;
    // An open nobody can be found for: a program gone again at once, or one that opened the node
    // once more under a descriptor number it had before.
    const bool quickOther = unexplained > 0;

    // A mapping seen before and gone now ended between the two looks: counted from now.
    if (held_ && (!seen.mapping.empty() || !last_.mapping.empty())) {
        lastMapped_ = at;
    }
    // A child holding the node its parent holds inherited it: its parent is the one that opened.
    std::set<pid_t> holders;
    for (const auto& [process, fd] : seen.descriptors) {
        holders.insert(process.first);
    }
    std::vector<Process> openers;
    for (const auto& [process, fd] : fresh) {
        if (holders.count(seen.parents[process]) == 0) {
            openers.push_back(process);
        }
    }
    if (quickOther) {
        openers.push_back({0, 0});
    }
    last_ = std::move(seen);
    opened(last_, openers, at);
}

void CameraNodeWatcher::opened(const Seen& seen, const std::vector<Process>& openers, double at) {
    std::vector<std::pair<std::string, double>> yielded;
    std::optional<Process> first;
    for (const Process& process : openers) {
        const auto executable = seen.executables.find(process);
        const std::string program = executable == seen.executables.end() ? "" : executable->second;
        const double left = budget_.left(program, at);
        if (left > 0 || seen.mapping.count(process) != 0) {
            yielded.emplace_back(program, left);
            first = first.value_or(process);
        } else if (!std::exchange(toldIgnored_, true)) {
            const auto name = seen.programs.find(process);
            tell({NodeEvent::Kind::ignored, process.first, name == seen.programs.end() ? "" : name->second, {}});
        }
    }
    if (!first) {
        return;
    }
    const bool starting = !held_;
    if (starting) {
        held_ = true;
        lastMapped_ = seen.mapping.empty() ? -INFINITY : at;
        culprits_.clear();
    }
    // Someone new may map the node any moment: the delay starts again.
    for (const auto& [program, left] : yielded) {
        culprits_.try_emplace(program, Culprit{at, left, at}).first->second.opened = at;
    }
    if (starting) {
        const auto name = seen.programs.find(*first);
        tell({NodeEvent::Kind::otherOpened, first->first, name == seen.programs.end() ? "" : name->second, {}});
    }
}

void CameraNodeWatcher::checkHeld() {
    // The mappers seen last are looked at first: while one still streams nothing else is read.
    for (const Process& process : last_.mapping) {
        if (maps(process)) {
            lastMapped_ = now();
            return;
        }
    }
    // Then the whole table once, for a holder that started mapping without an event. Only what it
    // says of mappings is kept: a descriptor it finds may belong to an open whose event is queued.
    last_.mapping = scan().mapping;
    if (!last_.mapping.empty()) {
        lastMapped_ = now();
        return;
    }
    const double at = now();
    for (const auto& [program, culprit] : culprits_) {
        budget_.charge(program, chargedFrom(culprit), std::min(at, heldBy(culprit)));
    }
    culprits_.clear();
    held_ = false;
    tell({NodeEvent::Kind::cameraFree, 0, {}, {}});
}

}  // namespace tovak::camera

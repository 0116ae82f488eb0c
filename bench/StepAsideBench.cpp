// How long another program waits, from its open of the camera's node, until Tovak has stopped the
// camera: the node watcher, the session queue's decision and the main queue's stop, on real
// threads as in the window application. The device's own close is not included (there is no
// camera here): the camera stands in as a fake whose stop is timed. 100 opens by child processes;
// prints the median and the worst.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "camera/NodeContention.h"
#include "monitor/PrivacyMonitor.h"
#include "runtime/LoopMainQueue.h"
#include "runtime/SerialQueue.h"
#include "support/Fakes.h"
#include "support/TempDir.h"

using namespace tovak;
using Clock = std::chrono::steady_clock;

namespace {

// Pipe reads and writes whose outcome shows in the timings anyway.
void put(int fd, const void* data, std::size_t size) {
    if (::write(fd, data, size) < 0) {
        std::perror("write");
    }
}
void get(int fd, void* data, std::size_t size) {
    if (::read(fd, data, size) < 0) {
        std::perror("read");
    }
}

double secondsNow() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// A camera whose stop is timed.
class TimedCamera final : public monitor::CameraSession {
  public:
    std::atomic<double> stoppedAt{0};
    std::atomic<int> starts{0};
    monitor::CameraAuthorization authorizationStatus() override { return monitor::CameraAuthorization::authorized; }
    void requestAccess(std::function<void(bool)> answer) override { answer(true); }
    void beginConfiguration() override {}
    void commitConfiguration() override {}
    void removeAllInputsAndOutputs() override {}
    std::optional<monitor::CameraDevice> defaultVideoDevice() override {
        return monitor::CameraDevice{"node", "Bench"};
    }
    bool addInput(const monitor::CameraDevice&) override { return true; }
    bool addVideoOutput() override { return true; }
    void setSampleBufferDelegate(std::weak_ptr<monitor::SampleBufferDelegate>,
                                 std::shared_ptr<runtime::TaskQueue>) override {}
    [[nodiscard]] bool isRunning() const override { return running_; }
    void startRunning() override { running_ = true, ++starts; }
    void stopRunning() override { stoppedAt = secondsNow(), running_ = false; }

  private:
    std::atomic<bool> running_{false};
};

// A child that opens and maps the node when told, writes when it opened, and lets go when told.
struct Call {
    pid_t pid = -1;
    int go[2] = {-1, -1};
    int opened[2] = {-1, -1};
};

Call startCall(const std::string& node) {
    Call call;
    if (::pipe(call.go) != 0 || ::pipe(call.opened) != 0) {
        return call;
    }
    call.pid = ::fork();
    if (call.pid == 0) {
        char byte = 0;
        get(call.go[0], &byte, 1);
        const double at = secondsNow();
        const int fd = ::open(node.c_str(), O_RDWR);
        void* mapped = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
        put(call.opened[1], &at, sizeof at);
        get(call.go[0], &byte, 1);
        ::munmap(mapped, 4096);
        ::close(fd);
        ::_exit(0);
    }
    return call;
}

}  // namespace

int main() {
    testing::TempDir folder("tovak-bench-node");
    const std::string node = folder.write("video0", std::string(4096, '\0'));
    auto main = std::make_shared<runtime::LoopMainQueue>();
    auto session = std::make_shared<runtime::SerialQueue>("tovak.session");
    auto camera = std::make_shared<TimedCamera>();
    camera::CameraNodeWatcher::Options options;
    options.freeAfterSeconds = 0.05;  // only the way out is timed; the way back waits less here
    monitor::Ports ports;
    ports.mainQueue = main;
    ports.sessionQueue = session;
    ports.clock = std::make_shared<runtime::SystemClock>();
    ports.session = camera;
    ports.contention =
        std::make_shared<camera::NodeContention>(node, camera::NodeContention::Delivery::immediate, options);
    std::shared_ptr<monitor::PrivacyMonitor> monitor = monitor::PrivacyMonitor::create(ports);
    std::thread loop([&] { main->runUntil(Clock::now() + std::chrono::seconds(600)); });
    main->async([&] { monitor->start(); });

    const auto waitFor = [](const auto& condition) {
        for (int i = 0; i < 20000 && !condition(); ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        return condition();
    };
    std::vector<double> millis;
    for (int i = 0; i < 100; ++i) {
        if (!waitFor([&] { return camera->isRunning(); })) {
            std::fprintf(stderr, "the camera did not come back\n");
            break;
        }
        // The process table is read for events at most four times a second: each call comes on its
        // own, as real calls do, so that what is timed is the way out and not that limit.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        Call call = startCall(node);
        camera->stoppedAt = 0;
        const char byte = 1;
        put(call.go[1], &byte, 1);
        double openedAt = 0;
        get(call.opened[0], &openedAt, sizeof openedAt);
        if (waitFor([&] { return camera->stoppedAt.load() != 0; })) {
            millis.push_back((camera->stoppedAt.load() - openedAt) * 1000.0);
        }
        put(call.go[1], &byte, 1);
        ::waitpid(call.pid, nullptr, 0);
        for (int fd : {call.go[0], call.go[1], call.opened[0], call.opened[1]}) {
            ::close(fd);
        }
    }
    main->async([&] { monitor->stop(); });
    main->quit();
    loop.join();
    session->shutdown();
    std::sort(millis.begin(), millis.end());
    if (millis.empty()) {
        return 1;
    }
    std::printf("another program's open to the camera stopped, %zu opens: median %.1f ms, worst %.1f ms\n",
                millis.size(), millis[millis.size() / 2], millis.back());
    return 0;
}

// The camera path's own costs: CPU per 640x480 frame to BGRA (YUYV and MJPEG) with Tovak's capture
// against OpenCV (and libv4l2's own MJPEG decoding), and the node watcher's latency from another
// process's open to otherOpened and from its close to cameraFree.
//
//   bench_capture [photo.jpg]   (default: the demo photograph in share/tovak/demo of the build)

#include <fcntl.h>
#include <libv4l-plugin.h>
#include <libv4lconvert.h>
#include <linux/videodev2.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <thread>
#include <vector>

#include "camera/CameraNodeWatcher.h"
#include "camera/FrameConverter.h"

namespace {

using namespace tovak;

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The plain fixed-point loop Tovak would use without OpenCV (BT.601 limited range), for comparison.
void yuyvLoop(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) {
    const auto clamp = [](int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); };
    for (std::size_t i = 0; i + 1 < pixels; i += 2, in += 4, out += 8) {
        const int d = in[1] - 128, e = in[3] - 128;
        const int red = 409 * e + 128, green = -100 * d - 208 * e + 128, blue = 516 * d + 128;
        const int y0 = 298 * std::max(0, in[0] - 16), y1 = 298 * std::max(0, in[2] - 16);
        out[0] = clamp((y0 + blue) >> 8);
        out[1] = clamp((y0 + green) >> 8);
        out[2] = clamp((y0 + red) >> 8);
        out[3] = 255;
        out[4] = clamp((y1 + blue) >> 8);
        out[5] = clamp((y1 + green) >> 8);
        out[6] = clamp((y1 + red) >> 8);
        out[7] = 255;
    }
}

// CPU (all threads of the process) and wall time per call, in milliseconds, over enough calls.
void measure(const char* name, const std::function<void()>& convert) {
    for (int i = 0; i < 20; ++i) {
        convert();
    }
    constexpr int calls = 400;
    const double cpu0 = processCpuSeconds(), wall0 = wallSeconds();
    for (int i = 0; i < calls; ++i) {
        convert();
    }
    const double cpu = (processCpuSeconds() - cpu0) / calls * 1000, wall = (wallSeconds() - wall0) / calls * 1000;
    std::printf("  %-52s CPU %6.3f ms/frame   wall %6.3f ms/frame\n", name, cpu, wall);
}

void conversions(const std::string& photo) {
    constexpr int width = 640, height = 480;
    cv::Mat picture = cv::imread(photo, cv::IMREAD_COLOR);
    if (picture.empty()) {
        std::printf("cannot read %s\n", photo.c_str());
        return;
    }
    cv::resize(picture, picture, {width, height}, 0, 0, cv::INTER_AREA);
    // YUYV as a webcam sends it, made from the photograph.
    cv::Mat yuv;
    cv::cvtColor(picture, yuv, cv::COLOR_BGR2YUV);
    std::vector<std::uint8_t> yuyv(static_cast<std::size_t>(width * height * 2));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; x += 2) {
            const cv::Vec3b a = yuv.at<cv::Vec3b>(y, x), b = yuv.at<cv::Vec3b>(y, x + 1);
            std::uint8_t* out = &yuyv[static_cast<std::size_t>((y * width + x) * 2)];
            out[0] = a[0];
            out[1] = static_cast<std::uint8_t>((a[1] + b[1]) / 2);
            out[2] = b[0];
            out[3] = static_cast<std::uint8_t>((a[2] + b[2]) / 2);
        }
    }
    std::vector<std::uint8_t> mjpeg;
    cv::imencode(".jpg", picture, mjpeg, {cv::IMWRITE_JPEG_QUALITY, 85});
    std::printf("640x480 to BGRA (MJPEG frame %zu bytes, quality 85), OpenCV threads %d:\n", mjpeg.size(),
                cv::getNumThreads());

    camera::FrameConverter converter;
    imaging::PixelBuffer out(width, height);
    const camera::FrameFormat yuyvFormat{camera::FrameLayout::yuyv, width, height, width * 2};
    const camera::FrameFormat mjpegFormat{camera::FrameLayout::mjpeg, width, height, 0};
    const cv::Mat yuyvMat(height, width, CV_8UC2, yuyv.data());
    cv::Mat bgr, bgra(height, width, CV_8UC4);

    measure("YUYV, Tovak (FrameConverter: OpenCV's SIMD, in place)",
            [&] { converter.convert(yuyv.data(), yuyv.size(), yuyvFormat, out); });
    measure("YUYV, cv::cvtColor(YUV2BGRA_YUYV)", [&] { cv::cvtColor(yuyvMat, bgra, cv::COLOR_YUV2BGRA_YUYV); });
    measure("YUYV, a plain fixed-point loop", [&] { yuyvLoop(yuyv.data(), bgra.data, width * height); });
    measure("MJPEG, Tovak (libjpeg-turbo straight to BGRA)",
            [&] { converter.convert(mjpeg.data(), mjpeg.size(), mjpegFormat, out); });
    measure("MJPEG, cv::imdecode + cvtColor(BGR2BGRA)", [&] {
        bgr = cv::imdecode(mjpeg, cv::IMREAD_COLOR);
        cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    });

    // libv4l2's own conversion, as it would run behind an emulated BGR24 format; its device calls
    // answer as a capture device that only streams.
    static libv4l_dev_ops device{};
    device.init = [](int) -> void* { return nullptr; };
    device.close = [](void*) {};
    device.ioctl = [](void*, int, unsigned long request, void* argument) {
        if (request == VIDIOC_QUERYCAP) {
            auto* capability = static_cast<v4l2_capability*>(argument);
            *capability = {};
            capability->capabilities = capability->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            return 0;
        }
        errno = EINVAL;
        return -1;
    };
    device.read = [](void*, int, void*, size_t) -> ssize_t { return -1; };
    device.write = [](void*, int, const void*, size_t) -> ssize_t { return -1; };
    const int devNull = ::open("/dev/null", O_RDWR);
    v4lconvert_data* v4l = v4lconvert_create_with_dev_ops(devNull, nullptr, &device);
    if (v4l != nullptr) {
        v4l2_format source{}, target{};
        source.type = target.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        source.fmt.pix = {width, height, V4L2_PIX_FMT_MJPEG, V4L2_FIELD_NONE, 0, 0, 0, 0, 0, 0, 0, 0};
        target.fmt.pix = {width, height, V4L2_PIX_FMT_BGR24, V4L2_FIELD_NONE, width * 3, width * height * 3, 0, 0, 0, 0,
                          0,     0};
        std::vector<std::uint8_t> converted(static_cast<std::size_t>(width * height * 3));
        const camera::FrameFormat bgrFormat{camera::FrameLayout::bgr24, width, height, width * 3};
        const int probe = v4lconvert_convert(v4l, &source, &target, mjpeg.data(), static_cast<int>(mjpeg.size()),
                                             converted.data(), static_cast<int>(converted.size()));
        if (probe > 0) {
            measure("MJPEG, libv4lconvert to BGR24 + Tovak BGR24 to BGRA", [&] {
                v4lconvert_convert(v4l, &source, &target, mjpeg.data(), static_cast<int>(mjpeg.size()),
                                   converted.data(), static_cast<int>(converted.size()));
                converter.convert(converted.data(), converted.size(), bgrFormat, out);
            });
        } else {
            std::printf("  libv4lconvert: %s\n", v4lconvert_get_error_message(v4l));
        }
        v4lconvert_destroy(v4l);
    }
    ::close(devNull);
}

// A forked process that opens and maps the node, or unmaps and closes it, when told
// (async-signal-safe calls only).
struct StandIn {
    pid_t pid = -1;
    int commands = -1;
    int answers = -1;

    explicit StandIn(const std::string& path) {
        int to[2], from[2];
        if (::pipe(to) != 0 || ::pipe(from) != 0) {
            return;
        }
        pid = ::fork();
        if (pid == 0) {
            int fd = -1;
            void* mapping = MAP_FAILED;
            char command = 0;
            while (::read(to[0], &command, 1) == 1) {
                if (command == 'o') {
                    fd = ::open(path.c_str(), O_RDWR);
                    mapping = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
                } else {
                    ::munmap(mapping, 4096);
                    ::close(fd);
                }
                (void)!::write(from[1], &command, 1);
            }
            ::_exit(0);
        }
        commands = to[1];
        answers = from[0];
    }
    ~StandIn() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    void operator()(char command) const {
        (void)!::write(commands, &command, 1);
        (void)!::read(answers, &command, 1);
    }
};

void printStats(const char* name, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    std::printf("  %-44s median %7.2f ms   worst %7.2f ms   (%zu runs)\n", name, samples[samples.size() / 2] * 1000,
                samples.back() * 1000, samples.size());
}

void watcherLatency() {
    constexpr double freeAfter = 0.05;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tovak-bench-node-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string node = (folder / "video0").string();
    std::FILE* file = std::fopen(node.c_str(), "w");
    std::fclose(file);

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<camera::NodeEvent::Kind, double>> events;
    std::string error;
    camera::CameraNodeWatcher::Options options;
    options.freeAfterSeconds = freeAfter;
    auto watcher = camera::CameraNodeWatcher::start(
        node,
        [&](const camera::NodeEvent& event) {
            std::lock_guard lock(mutex);
            events.emplace_back(event.kind, wallSeconds());
            changed.notify_all();
        },
        options, error);
    if (!watcher) {
        std::printf("watcher: %s\n", error.c_str());
        return;
    }
    StandIn other(node);
    std::vector<double> opened, freed;
    const auto waitFor = [&](camera::NodeEvent::Kind kind) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return !events.empty() && events.back().first == kind; });
        return events.back().second;
    };
    for (int run = 0; run < 100; ++run) {
        // Apart enough for the watcher's four reads of the process table a second.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const double openAt = wallSeconds();
        other('o');
        opened.push_back(waitFor(camera::NodeEvent::Kind::otherOpened) - openAt);
        // Streaming long enough for the watcher to have seen the mapping.
        std::this_thread::sleep_for(std::chrono::duration<double>(3 * freeAfter));
        const double closeAt = wallSeconds();
        other('c');
        freed.push_back(waitFor(camera::NodeEvent::Kind::cameraFree) - closeAt - freeAfter);
    }
    std::printf("Node watcher (free delay set to %.0f ms, subtracted below):\n", freeAfter * 1000);
    printStats("another process opens -> otherOpened", opened);
    printStats("it closes -> cameraFree, beyond the delay", freed);
    watcher.reset();
    std::filesystem::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string photo = argc > 1 ? argv[1] : TOVAK_BENCH_PHOTO;
    conversions(photo);
    watcherLatency();
    return 0;
}

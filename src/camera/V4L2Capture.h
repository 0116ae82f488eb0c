#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "camera/FrameConverter.h"
#include "imaging/PixelBuffer.h"

namespace tovak::camera {

// The system calls a capture makes. real() goes through libv4l2, which also offers the formats it
// can convert to (BGR24 from whatever the camera sends). Each returns 0 or more on success and
// minus the errno on failure; mmap returns MAP_FAILED.
struct V4L2Calls {
    std::function<int(const std::string& path, int flags)> open;
    std::function<int(int fd)> close;
    std::function<int(int fd, unsigned long request, void* argument)> ioctl;
    std::function<void*(std::size_t length, int fd, off_t offset)> mmap;
    std::function<int(void* address, std::size_t length)> munmap;
    std::function<int(pollfd* fds, nfds_t count, int timeoutMs)> poll;

    static V4L2Calls real();
};

// One frame size a camera offers in one pixel format, with the frame rates it offers at that size.
struct OfferedFormat {
    std::uint32_t pixelFormat = 0;  // V4L2 fourcc
    int width = 0;
    int height = 0;
    // Empty when the driver does not tell.
    std::vector<double> framesPerSecond;
};

struct ChosenFormat {
    std::uint32_t pixelFormat = 0;
    FrameLayout layout = FrameLayout::yuyv;
    int width = 0;
    int height = 0;
    // The rate to ask for; 0 leaves it to the driver.
    double framesPerSecond = 0;
};

// A V4L2 camera streaming into mmap buffers, frames converted to BGRA. Not thread-safe except
// requestStop(): one thread opens, streams, reads and closes.
class V4L2Capture {
  public:
    // The size asked of the camera (the nearest it offers) and the highest rate wanted.
    static constexpr int wantedWidth = 640;
    static constexpr int wantedHeight = 480;
    static constexpr double maxFramesPerSecond = 30;
    static constexpr unsigned int bufferCount = 4;

    enum class OpenResult {
        opened,
        // EACCES or EPERM when opening the node.
        noAccess,
        // EBUSY from the format or the buffer request: another program streams from the camera.
        busy,
        failed,
    };
    enum class ReadResult {
        frame,
        // requestStop() was called.
        stopped,
        // Nothing came within the timeout.
        timedOut,
        // A frame came damaged (or empty) and was dropped.
        dropped,
        // The device reports an error (unplugged: ENODEV).
        failed,
    };

    // The offer nearest wantedWidth x wantedHeight (by |dw| + |dh|, then the larger), at the
    // highest rate up to maxFramesPerSecond, preferring YUYV, then MJPEG, then a converted BGR24.
    // None when no offer is in a format Tovak can read.
    [[nodiscard]] static std::optional<ChosenFormat> chooseFormat(const std::vector<OfferedFormat>& offers);

    explicit V4L2Capture(V4L2Calls calls = V4L2Calls::real());
    ~V4L2Capture();
    V4L2Capture(const V4L2Capture&) = delete;
    V4L2Capture& operator=(const V4L2Capture&) = delete;

    // Opens the node, chooses and sets the format, requests and maps the buffers.
    OpenResult open(const std::string& path);
    // Queues the buffers and starts streaming; minus the errno when the device refuses.
    int startStreaming();
    // Waits for the next frame without spinning and converts it into out, which must have the
    // format's size.
    ReadResult read(imaging::PixelBuffer& out, int timeoutMs);
    // Waits up to timeoutMs for requestStop(), without reading; true when it came.
    bool waitForStop(int timeoutMs);
    // Any thread: the read in progress, or the next one, returns stopped. startStreaming re-arms.
    void requestStop();
    // Gives the camera up: stops streaming, unmaps and releases the buffers, closes the node. The
    // device is free for another program when this returns. Also done by the destructor.
    void close();

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    [[nodiscard]] const FrameFormat& format() const { return format_; }
    [[nodiscard]] double framesPerSecond() const { return framesPerSecond_; }
    // What went wrong last, for the log: "VIDIOC_S_FMT: Device or resource busy".
    [[nodiscard]] const std::string& failure() const { return failure_; }

  private:
    struct Mapping {
        void* address = nullptr;
        std::size_t length = 0;
    };

    int ioctl(unsigned long request, void* argument, const char* name);
    [[nodiscard]] std::vector<OfferedFormat> enumerate();
    // The steps of open(): each says why it stopped, the device left for fail() to close.
    [[nodiscard]] bool canStream();
    [[nodiscard]] std::optional<OpenResult> setFormat(const ChosenFormat& chosen);
    void setRate(const ChosenFormat& chosen);
    [[nodiscard]] std::optional<OpenResult> mapBuffers();
    OpenResult fail(OpenResult result);

    V4L2Calls calls_;
    int fd_ = -1;
    int stopFd_ = -1;
    bool streaming_ = false;
    bool buffersRequested_ = false;
    std::vector<Mapping> buffers_;
    FrameFormat format_;
    double framesPerSecond_ = 0;
    FrameConverter converter_;
    std::string failure_;
};

}  // namespace tovak::camera

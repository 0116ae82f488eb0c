#include "camera/V4L2Capture.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "camera/CameraNodeWatcher.h"

namespace tovak::camera {

namespace {

std::optional<FrameLayout> layoutOf(std::uint32_t pixelFormat) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_YUYV:
            return FrameLayout::yuyv;
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG:
            return FrameLayout::mjpeg;
        case V4L2_PIX_FMT_BGR24:
            return FrameLayout::bgr24;
        default:
            return std::nullopt;
    }
}

// Cheapest to turn into BGRA first.
int layoutCost(FrameLayout layout) {
    switch (layout) {
        case FrameLayout::yuyv:
            return 0;
        case FrameLayout::mjpeg:
            return 1;
        case FrameLayout::bgr24:
            return 2;
    }
    return 3;
}

// The value nearest wanted in a stepwise range.
int snap(int wanted, std::uint32_t low, std::uint32_t high, std::uint32_t step) {
    const auto lowest = static_cast<long>(low);
    const long stride = std::max<long>(1, static_cast<long>(step));
    const long clamped = std::clamp<long>(wanted, lowest, static_cast<long>(high));
    return static_cast<int>(lowest + (clamped - lowest + stride / 2) / stride * stride);
}

double rateOf(const v4l2_fract& interval) {
    return interval.numerator == 0 ? 0 : static_cast<double>(interval.denominator) / interval.numerator;
}

// The rate to ask of an offer: the highest up to the cap, else the lowest above it; 0 when untold.
double rateFor(const OfferedFormat& offer) {
    double best = 0;
    double lowestAbove = 0;
    for (const double rate : offer.framesPerSecond) {
        if (rate <= 0) {
            continue;
        }
        if (rate <= V4L2Capture::maxFramesPerSecond + 1e-6) {
            best = std::max(best, rate);
        } else if (lowestAbove == 0 || rate < lowestAbove) {
            lowestAbove = rate;
        }
    }
    return best > 0 ? best : lowestAbove;
}

std::string describe(const char* call, int error) {
    return std::string(call) + ": " + std::strerror(error);
}

}  // namespace

V4L2Calls V4L2Calls::real() {
    V4L2Calls calls;
    calls.open = [](const std::string& path, int flags) {
        CameraNodeWatcher::noteOwnOpen(path);
        const int fd = v4l2_open(path.c_str(), flags);
        return fd >= 0 ? fd : -errno;
    };
    calls.close = [](int fd) { return v4l2_close(fd) == 0 ? 0 : -errno; };
    calls.ioctl = [](int fd, unsigned long request, void* argument) {
        int result = 0;
        do {
            result = v4l2_ioctl(fd, request, argument);
        } while (result < 0 && errno == EINTR);
        return result >= 0 ? result : -errno;
    };
    calls.mmap = [](std::size_t length, int fd, off_t offset) {
        return v4l2_mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    };
    calls.munmap = [](void* address, std::size_t length) { return v4l2_munmap(address, length) == 0 ? 0 : -errno; };
    calls.poll = [](pollfd* fds, nfds_t count, int timeoutMs) {
        const int result = ::poll(fds, count, timeoutMs);
        return result >= 0 ? result : -errno;
    };
    return calls;
}

std::optional<ChosenFormat> V4L2Capture::chooseFormat(const std::vector<OfferedFormat>& offers) {
    std::optional<ChosenFormat> chosen;
    std::tuple<int, long, double, int> bestRank;
    for (const OfferedFormat& offer : offers) {
        const std::optional<FrameLayout> layout = layoutOf(offer.pixelFormat);
        if (!layout || offer.width <= 0 || offer.height <= 0) {
            continue;
        }
        const double rate = rateFor(offer);
        // Smaller is better in every place: distance, then size, then rate, then conversion cost.
        const std::tuple<int, long, double, int> rank{
            std::abs(offer.width - wantedWidth) + std::abs(offer.height - wantedHeight),
            -static_cast<long>(offer.width) * offer.height,
            -(rate > 0 ? std::min(rate, maxFramesPerSecond) : maxFramesPerSecond), layoutCost(*layout)};
        if (!chosen || rank < bestRank) {
            bestRank = rank;
            chosen = ChosenFormat{offer.pixelFormat, *layout, offer.width, offer.height, rate};
        }
    }
    return chosen;
}

V4L2Capture::V4L2Capture(V4L2Calls calls)
    : calls_(std::move(calls)), stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

V4L2Capture::~V4L2Capture() {
    close();
    if (stopFd_ >= 0) {
        ::close(stopFd_);
    }
}

int V4L2Capture::ioctl(unsigned long request, void* argument, const char* name) {
    const int result = calls_.ioctl(fd_, request, argument);
    if (result < 0) {
        failure_ = describe(name, -result);
    }
    return result;
}

V4L2Capture::OpenResult V4L2Capture::fail(OpenResult result) {
    const std::string failure = failure_;
    close();
    failure_ = failure;
    return result;
}

std::vector<OfferedFormat> V4L2Capture::enumerate() {
    std::vector<OfferedFormat> offers;
    for (std::uint32_t index = 0;; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (calls_.ioctl(fd_, VIDIOC_ENUM_FMT, &description) < 0) {
            break;
        }
        if (!layoutOf(description.pixelformat)) {
            continue;
        }
        std::vector<OfferedFormat> sizes;
        for (std::uint32_t sizeIndex = 0;; ++sizeIndex) {
            v4l2_frmsizeenum size{};
            size.index = sizeIndex;
            size.pixel_format = description.pixelformat;
            if (calls_.ioctl(fd_, VIDIOC_ENUM_FRAMESIZES, &size) < 0) {
                break;
            }
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                sizes.push_back({description.pixelformat,
                                 static_cast<int>(size.discrete.width),
                                 static_cast<int>(size.discrete.height),
                                 {}});
                continue;
            }
            // A range: the size in it nearest the one wanted.
            const v4l2_frmsize_stepwise& range = size.stepwise;
            sizes.push_back({description.pixelformat,
                             snap(wantedWidth, range.min_width, range.max_width, range.step_width),
                             snap(wantedHeight, range.min_height, range.max_height, range.step_height),
                             {}});
            break;
        }
        if (sizes.empty()) {
            // The driver lists no sizes: ask for the one wanted and take what it sets.
            sizes.push_back({description.pixelformat, wantedWidth, wantedHeight, {}});
        }
        for (OfferedFormat& offer : sizes) {
            for (std::uint32_t rateIndex = 0;; ++rateIndex) {
                v4l2_frmivalenum interval{};
                interval.index = rateIndex;
                interval.pixel_format = offer.pixelFormat;
                interval.width = static_cast<std::uint32_t>(offer.width);
                interval.height = static_cast<std::uint32_t>(offer.height);
                if (calls_.ioctl(fd_, VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0) {
                    break;
                }
                if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
                    offer.framesPerSecond.push_back(rateOf(interval.discrete));
                    continue;
                }
                // A range of intervals: its fastest and slowest rates, and the cap when it is inside.
                const double fastest = rateOf(interval.stepwise.min);
                const double slowest = rateOf(interval.stepwise.max);
                offer.framesPerSecond.insert(offer.framesPerSecond.end(), {fastest, slowest});
                if (slowest <= maxFramesPerSecond && maxFramesPerSecond <= fastest) {
                    offer.framesPerSecond.push_back(maxFramesPerSecond);
                }
                break;
            }
            offers.push_back(std::move(offer));
        }
    }
    return offers;
}

V4L2Capture::OpenResult V4L2Capture::open(const std::string& path) {
    close();
    failure_.clear();
    const int fd = calls_.open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failure_ = describe("open", -fd);
        if (fd == -EACCES || fd == -EPERM) {
            return OpenResult::noAccess;
        }
        return fd == -EBUSY ? OpenResult::busy : OpenResult::failed;
    }
    fd_ = fd;
    if (!canStream()) {
        return fail(OpenResult::failed);
    }
    const std::optional<ChosenFormat> chosen = chooseFormat(enumerate());
    if (!chosen) {
        failure_ = "no pixel format Tovak can read";
        return fail(OpenResult::failed);
    }
    if (const std::optional<OpenResult> refused = setFormat(*chosen)) {
        return fail(*refused);
    }
    setRate(*chosen);
    if (const std::optional<OpenResult> refused = mapBuffers()) {
        return fail(*refused);
    }
    return OpenResult::opened;
}

bool V4L2Capture::canStream() {
    v4l2_capability capability{};
    if (ioctl(VIDIOC_QUERYCAP, &capability, "VIDIOC_QUERYCAP") < 0) {
        return false;
    }
    const std::uint32_t caps =
        (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? capability.device_caps : capability.capabilities;
    if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0 || (caps & V4L2_CAP_STREAMING) == 0) {
        failure_ = "not a streaming video capture device";
        return false;
    }
    return true;
}

std::optional<V4L2Capture::OpenResult> V4L2Capture::setFormat(const ChosenFormat& chosen) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = static_cast<std::uint32_t>(chosen.width);
    format.fmt.pix.height = static_cast<std::uint32_t>(chosen.height);
    format.fmt.pix.pixelformat = chosen.pixelFormat;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (const int result = ioctl(VIDIOC_S_FMT, &format, "VIDIOC_S_FMT"); result < 0) {
        return result == -EBUSY ? OpenResult::busy : OpenResult::failed;
    }
    // The driver may have set something else; take what it set, if Tovak can read it.
    const std::optional<FrameLayout> layout = layoutOf(format.fmt.pix.pixelformat);
    if (!layout || format.fmt.pix.width == 0 || format.fmt.pix.height == 0) {
        failure_ = "the camera set a pixel format Tovak cannot read";
        return OpenResult::failed;
    }
    format_ = FrameFormat{*layout, static_cast<int>(format.fmt.pix.width), static_cast<int>(format.fmt.pix.height),
                          format.fmt.pix.bytesperline};
    return std::nullopt;
}

void V4L2Capture::setRate(const ChosenFormat& chosen) {
    framesPerSecond_ = chosen.framesPerSecond;
    if (chosen.framesPerSecond <= 0) {
        return;
    }
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parameters.parm.capture.timeperframe = {1000,
                                            static_cast<std::uint32_t>(std::lround(chosen.framesPerSecond * 1000))};
    // A camera that keeps its own rate still streams.
    if (calls_.ioctl(fd_, VIDIOC_S_PARM, &parameters) >= 0) {
        framesPerSecond_ = rateOf(parameters.parm.capture.timeperframe);
    }
}

std::optional<V4L2Capture::OpenResult> V4L2Capture::mapBuffers() {
    v4l2_requestbuffers request{};
    request.count = bufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (const int result = ioctl(VIDIOC_REQBUFS, &request, "VIDIOC_REQBUFS"); result < 0 || request.count == 0) {
        if (result >= 0) {
            failure_ = "VIDIOC_REQBUFS: no buffers";
        }
        return result == -EBUSY ? OpenResult::busy : OpenResult::failed;
    }
    buffersRequested_ = true;
    // Mapped as they are queried, so a failure part way leaves only mapped buffers to release.
    for (std::uint32_t index = 0; index < request.count; ++index) {
        v4l2_buffer buffer{};
        buffer.index = index;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (ioctl(VIDIOC_QUERYBUF, &buffer, "VIDIOC_QUERYBUF") < 0) {
            return OpenResult::failed;
        }
        void* address = calls_.mmap(buffer.length, fd_, static_cast<off_t>(buffer.m.offset));
        if (address == MAP_FAILED) {
            failure_ = "mmap failed";
            return OpenResult::failed;
        }
        buffers_.push_back({address, buffer.length});
    }
    return std::nullopt;
}

int V4L2Capture::startStreaming() {
    if (fd_ < 0) {
        return -EBADF;
    }
    // A stop asked for before this start is over.
    eventfd_t pending = 0;
    (void)::eventfd_read(stopFd_, &pending);
    if (streaming_) {
        return 0;
    }
    for (std::size_t index = 0; index < buffers_.size(); ++index) {
        v4l2_buffer buffer{};
        buffer.index = static_cast<std::uint32_t>(index);
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (const int result = ioctl(VIDIOC_QBUF, &buffer, "VIDIOC_QBUF"); result < 0) {
            return result;
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (const int result = ioctl(VIDIOC_STREAMON, &type, "VIDIOC_STREAMON"); result < 0) {
        return result;
    }
    streaming_ = true;
    return 0;
}

V4L2Capture::ReadResult V4L2Capture::read(imaging::PixelBuffer& out, int timeoutMs) {
    if (fd_ < 0 || !streaming_) {
        return ReadResult::failed;
    }
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    const int ready = calls_.poll(fds, 2, timeoutMs);
    if (ready < 0) {
        if (ready == -EINTR) {
            return ReadResult::timedOut;
        }
        failure_ = describe("poll", -ready);
        return ReadResult::failed;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        return ReadResult::stopped;
    }
    if (ready == 0) {
        return ReadResult::timedOut;
    }
    if ((fds[0].revents & POLLIN) == 0) {
        failure_ = "poll: device error";
        return ReadResult::failed;
    }
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (const int result = ioctl(VIDIOC_DQBUF, &buffer, "VIDIOC_DQBUF"); result < 0) {
        return result == -EAGAIN ? ReadResult::timedOut : ReadResult::failed;
    }
    if (buffer.index >= buffers_.size()) {
        failure_ = "VIDIOC_DQBUF: unknown buffer";
        return ReadResult::failed;
    }
    const Mapping& mapping = buffers_[buffer.index];
    const std::size_t used = std::min<std::size_t>(buffer.bytesused, mapping.length);
    const bool converted = (buffer.flags & V4L2_BUF_FLAG_ERROR) == 0 && used > 0 &&
                           converter_.convert(static_cast<const std::uint8_t*>(mapping.address), used, format_, out);
    if (ioctl(VIDIOC_QBUF, &buffer, "VIDIOC_QBUF") < 0) {
        return ReadResult::failed;
    }
    return converted ? ReadResult::frame : ReadResult::dropped;
}

bool V4L2Capture::waitForStop(int timeoutMs) {
    pollfd stop{stopFd_, POLLIN, 0};
    return calls_.poll(&stop, 1, timeoutMs) > 0 && (stop.revents & POLLIN) != 0;
}

void V4L2Capture::requestStop() {
    if (stopFd_ >= 0) {
        (void)::eventfd_write(stopFd_, 1);
    }
}

void V4L2Capture::close() {
    if (fd_ < 0) {
        return;
    }
    // The order the V4L2 API asks for: stop, unmap, then release (a mapped buffer keeps the queue
    // and so the camera), then close.
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        (void)calls_.ioctl(fd_, VIDIOC_STREAMOFF, &type);
        streaming_ = false;
    }
    for (const Mapping& mapping : buffers_) {
        (void)calls_.munmap(mapping.address, mapping.length);
    }
    buffers_.clear();
    if (buffersRequested_) {
        v4l2_requestbuffers release{};
        release.count = 0;
        release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        release.memory = V4L2_MEMORY_MMAP;
        (void)calls_.ioctl(fd_, VIDIOC_REQBUFS, &release);
        buffersRequested_ = false;
    }
    (void)calls_.close(fd_);
    fd_ = -1;
}

}  // namespace tovak::camera

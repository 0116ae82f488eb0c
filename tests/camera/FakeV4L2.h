#pragma once

#include <linux/videodev2.h>
#include <sys/mman.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/V4L2Capture.h"

namespace tovak::testing {

// A camera behind injected system calls: the formats it offers, the errors it answers with, and
// recorded frames it delivers one per DQBUF. Every call is logged by name.
struct FakeV4L2 {
    struct Size {
        int width;
        int height;
        std::vector<int> rates;  // frames per second
    };
    struct Format {
        std::uint32_t fourcc;
        std::vector<Size> sizes;
    };
    std::vector<Format> formats{{V4L2_PIX_FMT_YUYV, {{640, 480, {30}}}}};
    int openError = 0;
    int formatError = 0;   // VIDIOC_S_FMT
    int buffersError = 0;  // VIDIOC_REQBUFS with a count
    int streamError = 0;   // VIDIOC_STREAMON
    // Once frames run out: keep waiting (a camera that is slow), or fail every call (unplugged).
    bool unplugWhenDone = false;
    std::deque<std::vector<std::uint8_t>> frames;

    std::mutex mutex;
    std::vector<std::string> log;
    v4l2_pix_format set{};
    std::vector<std::vector<std::uint8_t>> buffers;
    std::deque<std::uint32_t> queued;
    std::map<void*, std::size_t> mapped;
    bool streaming = false;

    // When the last frame was taken, with unplugWhenDone.
    std::chrono::steady_clock::time_point unpluggedAt;

    void note(const std::string& call) { log.push_back(call); }
    bool unplugged() const { return unplugWhenDone && frames.empty(); }

    // Only the calls made since the last look.
    std::vector<std::string> takeLog() {
        std::lock_guard lock(mutex);
        return std::exchange(log, {});
    }

    int ioctl(unsigned long code, void* argument) {
        std::lock_guard lock(mutex);
        switch (code) {
            case VIDIOC_QUERYCAP: {
                auto* cap = static_cast<v4l2_capability*>(argument);
                cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
                return 0;
            }
            case VIDIOC_ENUM_FMT: {
                auto* description = static_cast<v4l2_fmtdesc*>(argument);
                if (description->index >= formats.size()) {
                    return -EINVAL;
                }
                description->pixelformat = formats[description->index].fourcc;
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto* size = static_cast<v4l2_frmsizeenum*>(argument);
                const std::vector<Size>& sizes = sizesOf(size->pixel_format);
                if (size->index >= sizes.size()) {
                    return -EINVAL;
                }
                size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                size->discrete = {static_cast<std::uint32_t>(sizes[size->index].width),
                                  static_cast<std::uint32_t>(sizes[size->index].height)};
                return 0;
            }
            case VIDIOC_ENUM_FRAMEINTERVALS: {
                auto* interval = static_cast<v4l2_frmivalenum*>(argument);
                for (const Size& size : sizesOf(interval->pixel_format)) {
                    if (size.width == static_cast<int>(interval->width) && interval->index < size.rates.size()) {
                        interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                        interval->discrete = {1, static_cast<std::uint32_t>(size.rates[interval->index])};
                        return 0;
                    }
                }
                return -EINVAL;
            }
            case VIDIOC_S_FMT: {
                note("S_FMT");
                if (formatError != 0) {
                    return -formatError;
                }
                auto* format = static_cast<v4l2_format*>(argument);
                set = format->fmt.pix;
                set.bytesperline = set.pixelformat == V4L2_PIX_FMT_YUYV ? set.width * 2 : 0;
                format->fmt.pix = set;
                return 0;
            }
            case VIDIOC_S_PARM:
                return 0;
            case VIDIOC_REQBUFS: {
                auto* request = static_cast<v4l2_requestbuffers*>(argument);
                note("REQBUFS " + std::to_string(request->count));
                if (request->count > 0 && buffersError != 0) {
                    return -buffersError;
                }
                buffers.assign(request->count, std::vector<std::uint8_t>(set.width * set.height * 2 + 4096));
                return 0;
            }
            case VIDIOC_QUERYBUF: {
                auto* buffer = static_cast<v4l2_buffer*>(argument);
                buffer->length = static_cast<std::uint32_t>(buffers.at(buffer->index).size());
                buffer->m.offset = buffer->index * 0x100000U;
                return 0;
            }
            case VIDIOC_QBUF:
                queued.push_back(static_cast<v4l2_buffer*>(argument)->index);
                return unplugged() ? -ENODEV : 0;
            case VIDIOC_DQBUF: {
                if (unplugged()) {
                    return -ENODEV;
                }
                if (frames.empty() || queued.empty()) {
                    return -EAGAIN;
                }
                auto* buffer = static_cast<v4l2_buffer*>(argument);
                buffer->index = queued.front();
                queued.pop_front();
                std::vector<std::uint8_t>& target = buffers[buffer->index];
                std::copy(frames.front().begin(), frames.front().end(), target.begin());
                buffer->bytesused = static_cast<std::uint32_t>(frames.front().size());
                frames.pop_front();
                unpluggedAt = std::chrono::steady_clock::now();
                return 0;
            }
            case VIDIOC_STREAMON:
                note("STREAMON");
                streaming = streamError == 0;
                return -streamError;
            case VIDIOC_STREAMOFF:
                note("STREAMOFF");
                streaming = false;
                return 0;
            default:
                return -ENOTTY;
        }
    }

    const std::vector<Size>& sizesOf(std::uint32_t fourcc) const {
        static const std::vector<Size> none;
        for (const Format& format : formats) {
            if (format.fourcc == fourcc) {
                return format.sizes;
            }
        }
        return none;
    }

    // The calls; the camera must outlive the capture that uses them.
    camera::V4L2Calls calls() {
        camera::V4L2Calls calls;
        calls.open = [this](const std::string&, int) {
            std::lock_guard lock(mutex);
            note("open");
            return openError != 0 ? -openError : 42;
        };
        calls.close = [this](int) {
            std::lock_guard lock(mutex);
            note("close");
            return 0;
        };
        calls.ioctl = [this](int, unsigned long request, void* argument) { return ioctl(request, argument); };
        calls.mmap = [this](std::size_t length, int, off_t offset) -> void* {
            std::lock_guard lock(mutex);
            void* address = buffers.at(static_cast<std::size_t>(offset) / 0x100000U).data();
            mapped[address] = length;
            return address;
        };
        calls.munmap = [this](void* address, std::size_t) {
            std::lock_guard lock(mutex);
            note("munmap");
            mapped.erase(address);
            return 0;
        };
        // Frames are ready at once; the stop descriptor is asked of the real poll, which waits on it
        // alone while there is no frame.
        calls.poll = [this](pollfd* fds, nfds_t count, int timeoutMs) {
            short device = 0;
            if (count == 2) {
                std::lock_guard lock(mutex);
                if (streaming && (!frames.empty() || unplugged())) {
                    device = unplugged() ? POLLERR : POLLIN;
                }
            }
            pollfd* stop = count == 2 ? &fds[1] : &fds[0];
            const int ready = ::poll(stop, 1, device != 0 ? 0 : timeoutMs);
            if (count == 2) {
                fds[0].revents = device;
            }
            return ready < 0 ? -errno : ready + (device != 0 ? 1 : 0);
        };
        return calls;
    }
};

}  // namespace tovak::testing

#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "imaging/PixelBuffer.h"

namespace tovak::camera {

// Frame buffers for the handoff to the engine, recycled: a frame shared with the engine comes back
// to the pool when its last holder lets go, so a steady stream allocates no pixels.
class FramePool : public std::enable_shared_from_this<FramePool> {
  public:
    // Keeps at most keep returned buffers (the one being filled, the one in the mailbox, the one
    // the engine reads, and one spare).
    static std::shared_ptr<FramePool> make(std::size_t keep = 4) {
        return std::shared_ptr<FramePool>(new FramePool(keep));
    }

    // A buffer to fill: a returned one of this size when there is one, else a new one.
    [[nodiscard]] std::unique_ptr<imaging::PixelBuffer> take(int width, int height);
    // Shares a filled buffer; it comes back here when the last copy of the pointer goes, from any
    // thread, also after the pool itself has gone (then it is freed).
    [[nodiscard]] imaging::PixelBufferPtr share(std::unique_ptr<imaging::PixelBuffer> buffer);
    // Buffers allocated so far.
    [[nodiscard]] std::size_t allocated() const;

  private:
    explicit FramePool(std::size_t keep) : keep_(keep) {}
    void giveBack(imaging::PixelBuffer* buffer);

    const std::size_t keep_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<imaging::PixelBuffer>> free_;
    std::size_t allocated_ = 0;
};

}  // namespace tovak::camera

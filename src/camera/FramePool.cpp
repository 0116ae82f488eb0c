#include "camera/FramePool.h"

namespace tovak::camera {

std::unique_ptr<imaging::PixelBuffer> FramePool::take(int width, int height) {
    {
        std::lock_guard lock(mutex_);
        for (auto it = free_.begin(); it != free_.end(); ++it) {
            if ((*it)->width() == width && (*it)->height() == height) {
                std::unique_ptr<imaging::PixelBuffer> buffer = std::move(*it);
                free_.erase(it);
                return buffer;
            }
        }
        ++allocated_;
    }
    return std::make_unique<imaging::PixelBuffer>(width, height);
}

imaging::PixelBufferPtr FramePool::share(std::unique_ptr<imaging::PixelBuffer> buffer) {
    return imaging::PixelBufferPtr(buffer.release(), [pool = weak_from_this()](const imaging::PixelBuffer* frame) {
        auto* writable = const_cast<imaging::PixelBuffer*>(frame);
        if (const std::shared_ptr<FramePool> self = pool.lock()) {
            self->giveBack(writable);
        } else {
            delete writable;
        }
    });
}

void FramePool::giveBack(imaging::PixelBuffer* buffer) {
    std::unique_ptr<imaging::PixelBuffer> owned(buffer);
    std::lock_guard lock(mutex_);
    if (free_.size() < keep_) {
        free_.push_back(std::move(owned));
    }
}

std::size_t FramePool::allocated() const {
    std::lock_guard lock(mutex_);
    return allocated_;
}

}  // namespace tovak::camera

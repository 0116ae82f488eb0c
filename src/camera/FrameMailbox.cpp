#include "camera/FrameMailbox.h"

#include <utility>

namespace tovak::camera {

void FrameMailbox::setDelegate(std::weak_ptr<monitor::SampleBufferDelegate> delegate,
                               std::shared_ptr<runtime::TaskQueue> queue) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
    queue_ = std::move(queue);
    if (!queue_) {
        slot_.reset();
    }
}

bool FrameMailbox::offer(imaging::PixelBufferPtr frame) {
    std::shared_ptr<runtime::TaskQueue> queue;
    {
        std::lock_guard lock(mutex_);
        if (!queue_ || delegate_.expired()) {
            return false;
        }
        if (slot_) {
            ++dropped_;
        }
        slot_ = std::move(frame);
        if (deliveryQueued_) {
            return true;
        }
        deliveryQueued_ = true;
        queue = queue_;
    }
    queue->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->deliver();
        }
    });
    return true;
}

void FrameMailbox::deliver() {
    imaging::PixelBufferPtr frame;
    std::shared_ptr<monitor::SampleBufferDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        deliveryQueued_ = false;
        frame = std::move(slot_);
        slot_.reset();
        // A delegate detached or moved to another queue since the post gets nothing more here.
        if (!queue_ || !queue_->isCurrent()) {
            return;
        }
        delegate = delegate_.lock();
    }
    if (frame && delegate) {
        delegate->captureOutput(std::move(frame), connection_);
    }
}

std::size_t FrameMailbox::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace tovak::camera

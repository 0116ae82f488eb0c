#include "sources/LoopingSource.h"

#include <utility>

namespace tovak::sources {

LoopingSource::LoopingSource(std::unique_ptr<FrameSource> first, Factory make)
    : source_(std::move(first)), make_(std::move(make)) {}

std::optional<SourceFrame> LoopingSource::next() {
    std::optional<SourceFrame> frame = source_->next();
    if (!frame) {
        std::unique_ptr<FrameSource> fresh = make_ ? make_() : nullptr;
        if (!fresh) {
            return std::nullopt;
        }
        const double fps = fresh->framesPerSecond();
        source_ = std::move(fresh);
        offset_ = last_ + (fps > 0 ? 1.0 / fps : 0.0);
        frame = source_->next();
        if (!frame) {
            // An empty round would loop for ever.
            return std::nullopt;
        }
    }
    frame->timestamp += offset_;
    last_ = frame->timestamp;
    return frame;
}

}  // namespace tovak::sources

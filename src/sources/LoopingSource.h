#pragma once

#include <functional>
#include <memory>

#include "sources/FrameSource.h"

namespace tovak::sources {

// A source played again and again: at its end a fresh one is made and its clock runs on, one frame
// interval after the last frame, so the timestamps never go back.
class LoopingSource final : public FrameSource {
  public:
    using Factory = std::function<std::unique_ptr<FrameSource>()>;

    // first is the source already open; make opens the next round (none ends the loop).
    LoopingSource(std::unique_ptr<FrameSource> first, Factory make);

    std::optional<SourceFrame> next() override;
    [[nodiscard]] std::string name() const override { return source_->name(); }
    [[nodiscard]] double framesPerSecond() const override { return source_->framesPerSecond(); }

  private:
    std::unique_ptr<FrameSource> source_;
    Factory make_;
    double offset_ = 0;
    double last_ = 0;
};

}  // namespace tovak::sources

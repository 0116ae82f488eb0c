#include "app/SourcePacer.h"

#include <chrono>

namespace tovak::app {

SourcePacer::SourcePacer(std::shared_ptr<sources::SourceCameraSession> session) : session_(std::move(session)) {
    thread_ = std::thread([this] { run(); });
}

SourcePacer::~SourcePacer() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void SourcePacer::run() {
    using Clock = std::chrono::steady_clock;
    const auto idle = std::chrono::milliseconds(30);
    bool paced = false;
    Clock::time_point origin;
    double firstTimestamp = 0;
    while (!stopping_) {
        if (!session_->isRunning()) {
            // A stopped camera sends nothing; the source resumes where it was.
            paced = false;
            std::this_thread::sleep_for(idle);
            continue;
        }
        std::optional<sources::SourceFrame> frame = session_->read();
        if (!frame) {
            std::this_thread::sleep_for(idle);
            continue;
        }
        if (!paced) {
            paced = true;
            origin = Clock::now();
            firstTimestamp = frame->timestamp;
        }
        const auto due = origin + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(frame->timestamp - firstTimestamp));
        std::this_thread::sleep_until(due);
        session_->deliver(frame->image);
    }
}

}  // namespace tovak::app

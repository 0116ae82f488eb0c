// PrivacyMonitor, continued: stepping aside. A webcam streams to one program at a time, so while the
// user is at the desk a video call or a photo booth that opens the camera gets it: the monitor lets
// go at once and takes the camera back, afresh, once nobody else has streamed from it for a while.
// In away mode the camera is kept: anyone at the machine could otherwise blind the guard by opening
// a camera program.
#include <cassert>

#include "monitor/PrivacyMonitor.h"

namespace tovak::monitor {

namespace {

constexpr const char* kSteppedAside = "Пауза: камера нужна другой программе";
constexpr const char* kAwayBlind = "Отошёл: камера занята другой программой";

}  // namespace

void PrivacyMonitor::watchForOtherPrograms(const CameraDevice& device) {
    if (!ports_.contention || watchedNode_ == device.id) {
        return;
    }
    ports_.contention->stopWatching();
    const std::uint64_t watch = ++watchCount_;
    const bool watching = ports_.contention->watch(
        device, [weak = weak_from_this(), watch](CameraContention::Event event, const std::string& program) {
            if (auto self = weak.lock()) {
                self->sessionQueue_->async([weak, event, program, watch] {
                    if (auto monitor = weak.lock()) {
                        monitor->contentionEvent(event, program, watch);
                    }
                });
            }
        });
    watchedNode_ = watching ? std::optional(device.id) : std::nullopt;
}

void PrivacyMonitor::contentionEvent(CameraContention::Event event, const std::string& program, std::uint64_t watch) {
    assert(sessionQueue_->isCurrent());
    if (watch != watchCount_ || !watchedNode_) {
        return;
    }
    switch (event) {
        case CameraContention::Event::otherWants:
            if (cameraPhase_ == CameraPhase::running && !awayModeProcess_) {
                suspendCamera(CameraPhase::pausedForOtherProgram, kSteppedAside);
            }
            return;
        case CameraContention::Event::free:
            if (cameraPhase_ == CameraPhase::pausedForOtherProgram ||
                (awayModeProcess_ && cameraPhase_ == CameraPhase::waitingForCamera)) {
                askForCameraNow();
            }
            return;
        case CameraContention::Event::ignored:
            // Said once, while the camera it kept is watching.
            if (cameraPhase_ == CameraPhase::running) {
                publishStatus(program.empty() ? "Камера не отдана: её открывают без съёмки"
                                              : "Камера не отдана: " + program + " открывает её без съёмки");
            }
            return;
        case CameraContention::Event::lost:
            // Nothing more will be heard: the camera is looked for every two seconds instead.
            ports_.contention->stopWatching();
            watchedNode_.reset();
            if (cameraPhase_ == CameraPhase::pausedForOtherProgram) {
                suspendCamera(CameraPhase::waitingForCamera, "Камера: занята другой программой");
            }
            return;
    }
}

// The camera was refused as busy (at a start, a retry, or while running): in normal mode the same
// pause as when the other program's open was seen, ended the same way. Away mode is blind without
// it: it asks again every half second and says so until it has it.
void PrivacyMonitor::cameraBusy() {
    if (!awayModeProcess_ && ports_.contention) {
        if (const std::optional<CameraDevice> device = ports_.session->defaultVideoDevice()) {
            watchForOtherPrograms(*device);
        }
    }
    if (awayModeProcess_) {
        suspendCamera(CameraPhase::waitingForCamera, kAwayBlind, awayCameraRetrySeconds);
    } else if (!watchedNode_) {
        suspendCamera(CameraPhase::waitingForCamera, "Камера: занята другой программой");
    } else {
        ports_.contention->holdOff();
        suspendCamera(CameraPhase::pausedForOtherProgram, kSteppedAside);
    }
    onMain([](PrivacyMonitor& self) { self.isRunning.set(true); });
}

}  // namespace tovak::monitor

// PrivacyMonitor, continued: the user has stepped away. One face for three frames in a row is
// somebody at the unattended machine: the close-up shows and the session locks a second later. A
// second face ends that, since the user is evidently there.
#include "monitor/PrivacyMonitor.h"

namespace tovak::monitor {

using imaging::Orientation;
using imaging::PixelBufferPtr;

void PrivacyMonitor::setAwayMode(bool on) {
    sessionQueue_->async([weak = weak_from_this(), on] {
        if (auto self = weak.lock()) {
            self->applyAwayMode(on);
        }
    });
}

void PrivacyMonitor::applyAwayMode(bool on) {
    disarmLeaveLock();
    awayModeProcess_ = on;
    absenceForAutoAwayStartedAt_.reset();
    awayLockTriggeredThisSession_ = false;
    cancelAwayLockWorkItemOnMain();
    if (on) {
        cancelPendingPiPHide();
        if (onlooker_.reset()) {
            trigger_.close();
        }
        lastBringTriggerFrontTime_ = 0;
        hideOnMain(ports_.pip);
    } else {
        if (visitor_.reset() && ports_.observer) {
            ports_.observer->visitorEnded();
        }
        cancelAwayLockWorkItemOnMain();
        hideOnMain(ports_.fullscreen);
    }
    main_->async([self = shared_from_this(), on] { self->awayMode.set(on); });
    // Away mode must see: a camera stepped aside for another program is asked for at once, as is
    // one still awaited whenever away mode changes (how often it is asked depends on it).
    if ((on && cameraPhase_ == CameraPhase::pausedForOtherProgram) || cameraPhase_ == CameraPhase::waitingForCamera) {
        askForCameraNow();
    }
}

void PrivacyMonitor::processAwayWhenFewerThanTwoFaces(const std::vector<FaceObservation>& sorted,
                                                      const PixelBufferPtr& pixelBuffer, Orientation orientation) {
    if (sorted.empty()) {
        if (visitor_.missed() == PresenceCounter::Change::ended) {
            if (ports_.observer) {
                ports_.observer->visitorEnded();
            }
            cancelAwayLockWorkItemOnMain();
            hideOnMain(ports_.fullscreen);
        }
        return;
    }
    if (visitor_.seen() == PresenceCounter::Change::confirmed) {
        if (ports_.observer) {
            ports_.observer->visitorConfirmed();
        }
        onMain([](PrivacyMonitor& self) {
            if (self.ports_.fullscreen) {
                self.ports_.fullscreen->show();
            }
        });
        scheduleAwayModeLockIfNeeded();
    }
    if (!visitor_.active()) {
        return;
    }
    const double now = ports_.clock->now();
    if (now - lastFullscreenUpdate_ >= fullscreenMinInterval) {
        lastFullscreenUpdate_ = now;
        if (ports_.fullscreen) {
            ports_.fullscreen->update(pixelBuffer, sorted.front().boundingBox, orientation, cropPaddingFraction,
                                      awayFullscreenCenterZoom, ciContext_);
        }
    }
}

void PrivacyMonitor::reconcileAwayModeWhenSecondFaceAppears() {
    const bool visitorWasThere = visitor_.reset();
    cancelAwayLockWorkItemOnMain();
    if (visitorWasThere) {
        if (ports_.observer) {
            ports_.observer->visitorEnded();
        }
        hideOnMain(ports_.fullscreen);
    }
}

void PrivacyMonitor::scheduleAwayModeLockIfNeeded() {
    onMain([](PrivacyMonitor& self) {
        if (self.awayLockWorkItem_) {
            self.awayLockWorkItem_->cancel();
        }
        // Advisory: the session queue decides again before locking.
        if (self.awayLockTriggeredThisSession_.load()) {
            return;
        }
        auto item = runtime::WorkItem::make([weak = self.weak_from_this()] {
            auto monitor = weak.lock();
            if (!monitor) {
                return;
            }
            monitor->awayLockWorkItem_.reset();
            monitor->sessionQueue_->async([monitor] { monitor->awayLockCheck(); });
        });
        self.awayLockWorkItem_ = item;
        self.main_->asyncAfter(awayLockDelaySeconds, item);
    });
}

void PrivacyMonitor::awayLockCheck() {
    if (!awayModeProcess_ || !visitor_.active() || awayLockTriggeredThisSession_.load()) {
        return;
    }
    lockSession();
}

void PrivacyMonitor::lockSession() {
    awayLockTriggeredThisSession_ = true;
    if (!ports_.screenLock) {
        return;
    }
    ports_.screenLock->lockNow([self = shared_from_this()](bool success, std::optional<std::string> message) {
        if (self->ports_.observer) {
            self->ports_.observer->lockFinished(success, message);
        }
        if (success) {
            return;
        }
        self->sessionQueue_->async([self] { self->awayLockTriggeredThisSession_ = false; });
        if (message) {
            self->publishStatus(std::move(*message));
        }
    });
}

void PrivacyMonitor::cancelAwayLockWorkItemOnMain() {
    onMain([](PrivacyMonitor& self) {
        if (self.awayLockWorkItem_) {
            self.awayLockWorkItem_->cancel();
        }
        self.awayLockWorkItem_.reset();
    });
}

}  // namespace tovak::monitor

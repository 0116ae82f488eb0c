// PrivacyMonitor, continued: the camera follows the desk. It is off while the screen is locked,
// and when it is unplugged or taken by another program the status line says so and the monitor
// looks for a camera again every two seconds until one opens or "Стоп" is pressed.
#include <cassert>
#include <utility>

#include "monitor/PrivacyMonitor.h"

namespace tovak::monitor {

namespace {

constexpr double kCameraRetrySeconds = 2.0;

}  // namespace

void PrivacyMonitor::sessionLockChanged(bool locked) {
    sessionQueue_->async([weak = weak_from_this(), locked] {
        auto self = weak.lock();
        if (!self || self->sessionLocked_ == locked) {
            return;
        }
        self->sessionLocked_ = locked;
        const CameraPhase phase = self->cameraPhase_;
        if (locked && (phase == CameraPhase::running || phase == CameraPhase::waitingForCamera)) {
            self->suspendCamera(CameraPhase::pausedForLock, "Пауза: экран заблокирован");
        } else if (!locked && phase == CameraPhase::pausedForLock) {
            // Whoever unlocked the screen knew the password: the user is back.
            self->applyAwayMode(false);
            self->cameraPhase_ = CameraPhase::waitingForCamera;
            ++self->cameraEpoch_;
            self->resumeCameraAfterMain();
        }
    });
}

void PrivacyMonitor::cameraInterrupted(CameraInterruption reason, std::uint64_t epoch) {
    sessionQueue_->async([weak = weak_from_this(), reason, epoch] {
        auto self = weak.lock();
        if (!self || self->cameraPhase_ != CameraPhase::running || self->cameraEpoch_.load() != epoch) {
            return;
        }
        self->suspendCamera(CameraPhase::waitingForCamera, reason == CameraInterruption::busy
                                                               ? "Камера: занята другой программой"
                                                               : "Камера: отключена");
    });
}

void PrivacyMonitor::suspendCamera(CameraPhase next, std::string status) {
    assert(sessionQueue_->isCurrent());
    const bool onlookerWasConfirmed = presenceActive_;
    if (deps_.session) {
        deps_.session->setSampleBufferDelegate({}, nullptr);
    }
    cameraPhase_ = next;
    ++cameraEpoch_;
    // What was seen before the pause says nothing about the room after it.
    resetDecisionState();
    awayLockTriggeredThisSession_ = false;
    cancelAwayLockWorkItemOnMain();
    if (onlookerWasConfirmed) {
        closeTriggerDocumentIfPossible();
    }
    const bool retry = next == CameraPhase::waitingForCamera;
    onMain([status = std::move(status), retry, epoch = cameraEpoch_.load()](PrivacyMonitor& self) {
        self.cancelPiPHideWorkItem();
        if (self.deps_.session && self.deps_.session->isRunning()) {
            self.deps_.session->stopRunning();
        }
        if (self.deps_.pip) {
            self.deps_.pip->hide();
        }
        if (self.deps_.fullscreen) {
            self.deps_.fullscreen->hide();
        }
        if (self.cameraRetryWorkItem_) {
            self.cameraRetryWorkItem_->cancel();
            self.cameraRetryWorkItem_.reset();
        }
        if (retry) {
            self.cameraRetryWorkItem_ = runtime::WorkItem::make([weak = self.weak_from_this(), epoch] {
                if (auto monitor = weak.lock()) {
                    monitor->cameraRetryWorkItem_.reset();
                    monitor->resumeCamera(epoch);
                }
            });
            self.main_->asyncAfter(kCameraRetrySeconds, self.cameraRetryWorkItem_);
        }
        self.statusLine.set(status);
        self.previewImage.set(std::nullopt);
        self.previewFaceRects.set({});
    });
}

void PrivacyMonitor::resumeCameraAfterMain() {
    // Through the main queue, so the camera is opened again only after the stop posted there
    // before has let it go.
    onMain([epoch = cameraEpoch_.load()](PrivacyMonitor& self) { self.resumeCamera(epoch); });
}

void PrivacyMonitor::resumeCamera(std::uint64_t epoch) {
    sessionQueue_->async([weak = weak_from_this(), epoch] {
        auto self = weak.lock();
        if (!self || self->cameraPhase_ != CameraPhase::waitingForCamera || self->cameraEpoch_.load() != epoch) {
            return;
        }
        if (!self->attachCamera()) {
            self->suspendCamera(CameraPhase::waitingForCamera, self->deps_.session->lastInputWasBusy()
                                                                   ? "Камера: занята другой программой"
                                                                   : "Камера: отключена");
        }
    });
}

bool PrivacyMonitor::attachCamera() {
    CameraSession& session = *deps_.session;
    session.beginConfiguration();
    session.removeAllInputsAndOutputs();
    const std::optional<CameraDevice> device = session.defaultVideoDevice();
    if (!device || !session.addInput(*device) || !session.addVideoOutput()) {
        session.commitConfiguration();
        return false;
    }
    // A fresh start, as after "Старт": dark first frames cannot switch away mode on.
    resetDecisionState();
    runCamera(*device);
    return true;
}

}  // namespace tovak::monitor

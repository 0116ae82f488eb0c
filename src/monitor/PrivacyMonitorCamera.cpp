// PrivacyMonitor, continued: the camera. "Старт" asks for it and attaches it, "Стоп" lets it go and
// forgets what was seen. In between it follows the desk: it is off while the screen is locked, and
// when it is unplugged or taken by another program the status line says so and the monitor looks
// for a camera again every two seconds until one opens or "Стоп" is pressed.
#include <cassert>
#include <utility>

#include "monitor/PrivacyMonitor.h"

namespace tovak::monitor {

void PrivacyMonitor::start() {
    onSessionQueue(&PrivacyMonitor::startSessionIfNeeded);
}

void PrivacyMonitor::stop() {
    onSessionQueue(&PrivacyMonitor::stopOnSessionQueue);
}

void PrivacyMonitor::startSessionIfNeeded() {
    if (cameraPhase_ == CameraPhase::pausedByUser) {
        endUserPause();
        return;
    }
    if (cameraPhase_ == CameraPhase::pausedForOtherProgram) {
        return;  // monitoring is on; the camera comes back when the other program is done
    }
    if (!ports_.session) {
        publishStatus("Камера: ошибка");
        return;
    }
    if (ports_.faceDetector && !ports_.faceDetector->isAvailable()) {
        // A guard that cannot see must not pretend to watch.
        publishStatus("Детектор лиц: ошибка");
        return;
    }
    switch (ports_.session->authorizationStatus()) {
        case CameraAuthorization::notDetermined:
            ports_.session->requestAccess([weak = weak_from_this()](bool granted) {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                self->sessionQueue_->async([weak, granted] {
                    if (auto monitor = weak.lock()) {
                        if (granted) {
                            monitor->configureAndRun();
                        } else {
                            monitor->publishStatus("Камера: отказ");
                        }
                    }
                });
            });
            return;
        case CameraAuthorization::authorized:
            configureAndRun();
            return;
        case CameraAuthorization::restricted:
        case CameraAuthorization::denied:
            publishStatus("Камера: нет доступа");
            return;
    }
}

void PrivacyMonitor::configureAndRun() {
    if (sessionLocked_) {
        // Nothing on a locked screen can be seen: monitoring is on, the camera waits for the unlock.
        cameraPhase_ = CameraPhase::pausedForLock;
        ++cameraEpoch_;
        onMain([](PrivacyMonitor& self) { self.isRunning.set(true); });
        publishStatus("Пауза: экран заблокирован");
        return;
    }
    CameraSession& session = *ports_.session;
    session.beginConfiguration();
    session.removeAllInputsAndOutputs();
    const std::optional<CameraDevice> device = session.defaultVideoDevice();
    if (!device || !session.addInput(*device)) {
        session.commitConfiguration();
        if (!device && session.waitsForChosenDevice()) {
            // Monitoring is on: the camera the user chose is taken as soon as it is plugged in.
            suspendCamera(CameraPhase::waitingForCamera, "Камера: отключена");
            onMain([](PrivacyMonitor& self) { self.isRunning.set(true); });
            return;
        }
        if (device && session.lastInputWasBusy() && ports_.contention) {
            // Monitoring is on: the camera is taken as soon as the other program lets it go.
            cameraPhase_ = CameraPhase::waitingForCamera;
            cameraBusy();
            return;
        }
        publishStatus("Камера: ошибка");
        return;
    }
    if (!session.addVideoOutput()) {
        publishStatus("Камера: выход");
        session.commitConfiguration();
        return;
    }
    runCamera(*device);
}

// The camera is configured with its input and output: frames flow from here on. Session queue.
void PrivacyMonitor::runCamera(const CameraDevice& device) {
    CameraSession& session = *ports_.session;
    if (cameraPhase_ != CameraPhase::off && ports_.observer) {
        ports_.observer->cameraResumed();
    }
    cameraPhase_ = CameraPhase::running;
    ++cameraEpoch_;
    runningDevice_ = device.id;
    watchForOtherPrograms(device);
    session.setSampleBufferDelegate(weak_from_this(), sessionQueue_);
    onMain([](PrivacyMonitor& self) {
        if (!self.ports_.session->isRunning()) {
            self.ports_.session->startRunning();
        }
        self.isRunning.set(true);
    });
    publishStatus("● " + device.localizedName);
    session.commitConfiguration();
}

void PrivacyMonitor::stopOnSessionQueue() {
    const bool onlookerWasConfirmed = onlooker_.active();
    awayModeProcess_ = false;
    awayLockTriggeredThisSession_ = false;
    if (ports_.session) {
        ports_.session->setSampleBufferDelegate({}, nullptr);
    }
    cancelAwayLockWorkItemOnMain();
    if (ports_.contention) {
        ports_.contention->stopWatching();
    }
    watchedNode_.reset();
    cameraPhase_ = CameraPhase::off;
    ++cameraEpoch_;
    // The decision state is reset here, on its own queue and with frames already detached, rather
    // than on the main thread, so it cannot race with a setAwayMode or a panel dismissal queued
    // after this stop.
    resetDecisionState();
    main_->async([self = shared_from_this(), onlookerWasConfirmed] { self->stopOnMain(onlookerWasConfirmed); });
}

void PrivacyMonitor::resetDecisionState() {
    if (visitor_.active() && ports_.observer) {
        ports_.observer->visitorEnded();
    }
    onlooker_.reset();
    lastBringTriggerFrontTime_ = 0;
    pipHoldScheduled_ = false;
    pipUserDismissed_ = false;
    absenceForAutoAwayStartedAt_.reset();
    visitor_.reset();
}

void PrivacyMonitor::stopOnMain(bool onlookerWasConfirmed) {
    cancelPiPHideWorkItem();
    // "Стоп" ends the waiting for a camera, and the user's pause.
    for (runtime::WorkItemPtr* item : {&cameraRetryWorkItem_, &pauseWorkItem_}) {
        if (*item) {
            (*item)->cancel();
            item->reset();
        }
    }
    pausedUntil.set(std::nullopt);
    if (ports_.session && ports_.session->isRunning()) {
        ports_.session->stopRunning();
    }
    if (onlookerWasConfirmed) {
        trigger_.close();
    }
    cancelAwayLockWorkItemOnMain();
    if (ports_.pip) {
        ports_.pip->hide();
    }
    if (ports_.fullscreen) {
        ports_.fullscreen->hide();
    }
    isRunning.set(false);
    awayMode.set(false);
    statusLine.set("Стоп");
    previewImage.set(std::nullopt);
    previewFaceRects.set({});
}

void PrivacyMonitor::sessionLockChanged(bool locked) {
    sessionQueue_->async([weak = weak_from_this(), locked] {
        auto self = weak.lock();
        if (!self || self->sessionLocked_ == locked) {
            return;
        }
        self->sessionLocked_ = locked;
        const CameraPhase phase = self->cameraPhase_;
        if (locked && (phase == CameraPhase::running || phase == CameraPhase::waitingForCamera ||
                       phase == CameraPhase::pausedForOtherProgram)) {
            self->suspendCamera(CameraPhase::pausedForLock, "Пауза: экран заблокирован");
        } else if (!locked && phase == CameraPhase::pausedForLock) {
            // Only a lock that needed the password is reported: whoever unlocked it is the user.
            self->applyAwayMode(false);
            self->askForCameraNow();
        }
    });
}

void PrivacyMonitor::cameraInterrupted(CameraInterruption reason, std::uint64_t epoch) {
    sessionQueue_->async([weak = weak_from_this(), reason, epoch] {
        auto self = weak.lock();
        if (!self || self->cameraPhase_ != CameraPhase::running || self->cameraEpoch_.load() != epoch) {
            return;
        }
        if (reason == CameraInterruption::busy) {
            self->cameraBusy();
        } else {
            self->suspendCamera(CameraPhase::waitingForCamera, "Камера: отключена");
        }
    });
}

void PrivacyMonitor::suspendCamera(CameraPhase next, std::string status, double retryAfter) {
    assert(sessionQueue_->isCurrent());
    const bool onlookerWasConfirmed = onlooker_.active();
    if (next != cameraPhase_ && ports_.observer) {
        if (const std::optional<CameraPause> reason = pauseReason(next)) {
            ports_.observer->cameraPaused(*reason);
        }
    }
    if (ports_.session) {
        ports_.session->setSampleBufferDelegate({}, nullptr);
    }
    cameraPhase_ = next;
    ++cameraEpoch_;
    // What was seen before the pause says nothing about the room after it.
    resetDecisionState();
    awayLockTriggeredThisSession_ = false;
    cancelAwayLockWorkItemOnMain();
    if (onlookerWasConfirmed) {
        trigger_.close();
    }
    const bool retry = next == CameraPhase::waitingForCamera;
    onMain([status = std::move(status), retry, retryAfter, epoch = cameraEpoch_.load()](PrivacyMonitor& self) {
        self.cancelPiPHideWorkItem();
        if (self.ports_.session && self.ports_.session->isRunning()) {
            self.ports_.session->stopRunning();
        }
        if (self.ports_.pip) {
            self.ports_.pip->hide();
        }
        if (self.ports_.fullscreen) {
            self.ports_.fullscreen->hide();
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
            self.main_->asyncAfter(retryAfter, self.cameraRetryWorkItem_);
        }
        // Each retry that fails alike says nothing new.
        if (self.statusLine.get() != status) {
            self.statusLine.set(status);
        }
        self.previewImage.set(std::nullopt);
        self.previewFaceRects.set({});
    });
}

std::optional<CameraPause> PrivacyMonitor::pauseReason(CameraPhase phase) {
    switch (phase) {
        case CameraPhase::pausedForLock:
            return CameraPause::screenLocked;
        case CameraPhase::pausedByUser:
            return CameraPause::user;
        case CameraPhase::pausedForOtherProgram:
            return CameraPause::otherProgram;
        case CameraPhase::waitingForCamera:
            return CameraPause::cameraLost;
        case CameraPhase::off:
        case CameraPhase::running:
            break;
    }
    return std::nullopt;
}

void PrivacyMonitor::askForCameraNow() {
    cameraPhase_ = CameraPhase::waitingForCamera;
    ++cameraEpoch_;
    resumeCameraAfterMain();
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
        self->attachOrWait();
    });
}

void PrivacyMonitor::attachOrWait() {
    if (attachCamera()) {
        return;
    }
    if (ports_.session->lastInputWasBusy()) {
        cameraBusy();
    } else {
        suspendCamera(CameraPhase::waitingForCamera, "Камера: отключена");
    }
}

void PrivacyMonitor::cameraChoiceChanged() {
    sessionQueue_->async([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        const CameraPhase phase = self->cameraPhase_;
        if (phase == CameraPhase::running) {
            const std::optional<CameraDevice> device = self->ports_.session->defaultVideoDevice();
            if (device && device->id == self->runningDevice_) {
                return;
            }
        } else if (phase != CameraPhase::waitingForCamera) {
            return;  // off or paused: the next start or return of the camera takes the new one
        }
        // Away mode and the marked faces stay; what the old camera saw goes.
        self->attachOrWait();
    });
}

bool PrivacyMonitor::attachCamera() {
    CameraSession& session = *ports_.session;
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

#include "monitor/PrivacyMonitor.h"

#include <algorithm>
#include <cassert>
#include <filesystem>
#include <utility>

#include "monitor/StandardizePath.h"
#include "runtime/SerialQueue.h"

namespace tovak::monitor {

using imaging::Orientation;
using imaging::PixelBufferPtr;

namespace {

constexpr const char* kDefaultTriggerName = "DefaultTrigger";
constexpr const char* kDefaultTriggerExtension = "csv";
constexpr const char* kSettingsNotSaved = "Настройки не сохранились";

}  // namespace

std::shared_ptr<PrivacyMonitor> PrivacyMonitor::create(Dependencies dependencies) {
    std::shared_ptr<PrivacyMonitor> monitor(new PrivacyMonitor(std::move(dependencies)));
    std::weak_ptr<PrivacyMonitor> weak = monitor;
    if (monitor->deps_.pip) {
        monitor->deps_.pip->setOnClose([weak] {
            if (auto self = weak.lock()) {
                self->userClosedPiP();
            }
        });
    }
    if (monitor->deps_.lockWatcher) {
        monitor->deps_.lockWatcher->setOnChange([weak](bool locked) {
            if (auto self = weak.lock()) {
                self->sessionLockChanged(locked);
            }
        });
    }
    if (monitor->deps_.session) {
        monitor->deps_.session->setInterruptionHandler([weak](CameraInterruption reason) {
            if (auto self = weak.lock()) {
                self->cameraInterrupted(reason, self->cameraEpoch_.load());
            }
        });
    }
    monitor->refreshTriggerSummary();
    monitor->loadIgnoredFaces();
    return monitor;
}

PrivacyMonitor::PrivacyMonitor(Dependencies dependencies)
    : statusLine("Готов", *dependencies.mainQueue),
      isRunning(false, *dependencies.mainQueue),
      triggerFileSummary("", *dependencies.mainQueue),
      awayMode(false, *dependencies.mainQueue),
      previewImage(std::nullopt, *dependencies.mainQueue),
      previewFaceRects({}, *dependencies.mainQueue),
      ignoredFaces({}, *dependencies.mainQueue),
      deps_(std::move(dependencies)),
      main_(deps_.mainQueue),
      sessionQueue_(deps_.sessionQueue) {
    if (!sessionQueue_) {
        sessionQueue_ = std::make_shared<runtime::SerialQueue>("tovak.session");
        deps_.sessionQueue = sessionQueue_;
    }
    if (!deps_.isOperatingSystemAtLeast) {
        deps_.isOperatingSystemAtLeast = [](int, int, int) { return true; };
    }
}

PrivacyMonitor::~PrivacyMonitor() = default;

// ---- shared mechanisms ---------------------------------------------------------------------

void PrivacyMonitor::onSessionQueue(void (PrivacyMonitor::*op)()) {
    sessionQueue_->async([weak = weak_from_this(), op] {
        if (auto self = weak.lock()) {
            ((*self).*op)();
        }
    });
}

void PrivacyMonitor::onMain(std::function<void(PrivacyMonitor&)> step) {
    main_->async([weak = weak_from_this(), step = std::move(step)] {
        if (auto self = weak.lock()) {
            step(*self);
        }
    });
}

void PrivacyMonitor::publishStatus(std::string text) {
    // Held strongly until the text is shown.
    main_->async(
        [self = shared_from_this(), text = std::move(text)]() mutable { self->statusLine.set(std::move(text)); });
}

PrivacyMonitor::DecisionState PrivacyMonitor::decisionState() const {
    DecisionState s;
    s.confirmCount = confirmCount_;
    s.missCount = missCount_;
    s.presenceActive = presenceActive_;
    s.lastPiPUpdate = lastPiPUpdate_;
    s.lastBringTriggerFrontTime = lastBringTriggerFrontTime_;
    s.pipHoldScheduled = pipHoldScheduled_;
    s.pipUserDismissed = pipUserDismissed_;
    s.awayModeProcess = awayModeProcess_;
    s.awayConfirmCount = awayConfirmCount_;
    s.awayMissCount = awayMissCount_;
    s.awayPresenceActive = awayPresenceActive_;
    s.lastFullscreenUpdate = lastFullscreenUpdate_;
    s.awayLockTriggeredThisSession = awayLockTriggeredThisSession_.load();
    s.absenceForAutoAwayStartedAt = absenceForAutoAwayStartedAt_;
    s.lastPreviewPublish = lastPreviewPublish_;
    s.visionFrameCounter = visionFrameCounter_;
    return s;
}

bool PrivacyMonitor::hasPiPHideWorkItem() const {
    std::lock_guard lock(pipHideMutex_);
    return pipHideWorkItem_ != nullptr;
}

// ---- frame intake --------------------------------------------------------------------------

Orientation PrivacyMonitor::orientationFor(const CaptureConnection& connection) const {
    if (deps_.isOperatingSystemAtLeast(14, 0, 0)) {
        const double angle = connection.videoRotationAngle();
        if (angle == 90.0) {
            return Orientation::right;
        }
        if (angle == 180.0) {
            return Orientation::down;
        }
        if (angle == 270.0) {
            return Orientation::left;
        }
    }
    return connection.isVideoMirrored() ? Orientation::upMirrored : Orientation::up;
}

void PrivacyMonitor::captureOutput(PixelBufferPtr imageBuffer, const CaptureConnection& connection) {
    if (!imageBuffer) {
        return;
    }
    process(imageBuffer, connection);
}

std::vector<FaceObservation> PrivacyMonitor::detectFaces(const PixelBufferPtr& pixelBuffer, Orientation orientation) {
    if (!deps_.faceDetector) {
        return {};
    }
    std::unique_ptr<FaceRequestHandler> handler = deps_.faceDetector->makeHandler(pixelBuffer, orientation);
    if (!handler) {
        return {};
    }
    std::optional<std::vector<FaceObservation>> faces = handler->performFaceRectangles();
    if (!faces || faces->empty()) {
        return {};
    }
    if (visionFrameCounter_ % landmarksEveryNFrames == 0) {
        std::optional<std::vector<FaceObservation>> refined = handler->performLandmarks(*faces);
        if (refined && !refined->empty()) {
            return std::move(*refined);
        }
    }
    return std::move(*faces);
}

void PrivacyMonitor::process(const PixelBufferPtr& pixelBuffer, const CaptureConnection& connection) {
    assert(sessionQueue_->isCurrent());
    const Orientation orientation = orientationFor(connection);
    ++visionFrameCounter_;
    std::vector<FaceObservation> faces = detectFaces(pixelBuffer, orientation);

    std::vector<FaceObservation> sorted;
    sorted.reserve(faces.size());
    for (auto& face : faces) {
        // A face marked as scenery goes the way of one too small to count.
        if (face.boundingBox.area() >= minFaceNormalizedArea &&
            !ignored_faces::matchesAny(face.boundingBox, ignoredRegions_)) {
            sorted.push_back(std::move(face));
        }
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const FaceObservation& a, const FaceObservation& b) {
        return a.boundingBox.area() > b.boundingBox.area();
    });
    if (deps_.observer) {
        deps_.observer->frameAnalysed(sorted.size());
    }
    decide(sorted, pixelBuffer, orientation);
}

// ---- per-frame decisions -------------------------------------------------------------------

void PrivacyMonitor::decide(const std::vector<FaceObservation>& sorted, const PixelBufferPtr& pixelBuffer,
                            Orientation orientation) {
    const std::size_t n = sorted.size();

    // Auto-away timer.
    if (!awayModeProcess_ && deps_.session && deps_.session->isRunning()) {
        const double now = deps_.clock->now();
        if (n == 0) {
            if (!absenceForAutoAwayStartedAt_) {
                absenceForAutoAwayStartedAt_ = now;
            } else if (now - *absenceForAutoAwayStartedAt_ >= autoAwayAfterNoFaceSeconds) {
                absenceForAutoAwayStartedAt_.reset();
                setAwayMode(true);
            }
        } else {
            absenceForAutoAwayStartedAt_.reset();
        }
    } else {
        absenceForAutoAwayStartedAt_.reset();
    }

    maybePublishPreview(pixelBuffer, orientation, sorted);

    if (n < 2) {
        if (awayModeProcess_) {
            processAwayWhenFewerThanTwoFaces(sorted, pixelBuffer, orientation);
        }
        confirmCount_ = 0;
        ++missCount_;
        pipUserDismissed_ = false;
        if (presenceActive_ && missCount_ >= missNeeded) {
            presenceActive_ = false;
            missCount_ = 0;
            lastBringTriggerFrontTime_ = 0;
            if (deps_.observer) {
                deps_.observer->presenceEnded();
            }
            closeTriggerDocumentIfPossible();
            schedulePiPHideAfterHold();
        }
        return;
    }

    if (awayModeProcess_) {
        reconcileAwayModeWhenSecondFaceAppears();
    }
    cancelPiPHoldIfSecondFaceReturned();
    const imaging::Rect onlookerBox = sorted[1].boundingBox;
    ++confirmCount_;
    missCount_ = 0;

    if (confirmCount_ >= confirmNeeded && !presenceActive_) {
        presenceActive_ = true;
        pipUserDismissed_ = false;
        if (deps_.observer) {
            deps_.observer->presenceConfirmed();
        }
        lastBringTriggerFrontTime_ = deps_.clock->now();
        bringTriggerDocumentToFront();
        if (deps_.pip) {
            deps_.pip->show();
        }
    }

    if (presenceActive_ && !pipUserDismissed_) {
        const double now = deps_.clock->now();
        if (now - lastBringTriggerFrontTime_ >= bringTriggerFrontInterval) {
            lastBringTriggerFrontTime_ = now;
            bringTriggerDocumentToFront();
        }
        if (now - lastPiPUpdate_ >= pipMinInterval) {
            lastPiPUpdate_ = now;
            if (deps_.pip) {
                deps_.pip->update(pixelBuffer, onlookerBox, orientation, cropPaddingFraction, pipCenterZoom,
                                  ciContext_);
            }
        }
    }
}

// ---- panel hold and dismissal --------------------------------------------------------------

void PrivacyMonitor::schedulePiPHideAfterHold() {
    pipHoldScheduled_ = true;
    onMain([](PrivacyMonitor& self) {
        auto item = runtime::WorkItem::make([weak = self.weak_from_this()] {
            auto monitor = weak.lock();
            if (!monitor) {
                return;
            }
            if (monitor->deps_.pip) {
                monitor->deps_.pip->hide();
            }
            {
                std::lock_guard lock(monitor->pipHideMutex_);
                monitor->pipHideWorkItem_.reset();
            }
            monitor->sessionQueue_->async([weak] {
                if (auto again = weak.lock()) {
                    again->pipHoldScheduled_ = false;
                }
            });
        });
        {
            std::lock_guard lock(self.pipHideMutex_);
            if (self.pipHideWorkItem_) {
                self.pipHideWorkItem_->cancel();
            }
            self.pipHideWorkItem_ = item;
        }
        // The hold counts from now on the main thread, not from the frame.
        self.main_->asyncAfter(pipHoldSeconds, item);
    });
}

void PrivacyMonitor::cancelPiPHoldIfSecondFaceReturned() {
    if (!pipHoldScheduled_) {
        return;
    }
    pipHoldScheduled_ = false;
    onMain([](PrivacyMonitor& self) { self.cancelPiPHideWorkItem(); });
}

void PrivacyMonitor::cancelPiPHideWorkItem() {
    // The main queue schedules and fires the hide while the session queue may cancel it.
    std::lock_guard lock(pipHideMutex_);
    if (pipHideWorkItem_) {
        pipHideWorkItem_->cancel();
    }
    pipHideWorkItem_.reset();
}

void PrivacyMonitor::cancelPendingPiPHide() {
    cancelPiPHideWorkItem();
    pipHoldScheduled_ = false;
}

void PrivacyMonitor::userClosedPiP() {
    sessionQueue_->async([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        self->cancelPendingPiPHide();
        self->pipUserDismissed_ = true;
        self->onMain([](PrivacyMonitor& monitor) {
            if (monitor.deps_.pip) {
                monitor.deps_.pip->hide();
            }
        });
    });
}

// ---- away mode -----------------------------------------------------------------------------

void PrivacyMonitor::setAwayMode(bool on) {
    sessionQueue_->async([weak = weak_from_this(), on] {
        if (auto self = weak.lock()) {
            self->applyAwayMode(on);
        }
    });
}

void PrivacyMonitor::applyAwayMode(bool on) {
    awayModeProcess_ = on;
    absenceForAutoAwayStartedAt_.reset();
    awayLockTriggeredThisSession_ = false;
    cancelAwayLockWorkItemOnMain();
    if (on) {
        cancelPendingPiPHide();
        if (presenceActive_) {
            presenceActive_ = false;
            closeTriggerDocumentIfPossible();
        }
        confirmCount_ = 0;
        missCount_ = 0;
        lastBringTriggerFrontTime_ = 0;
        onMain([](PrivacyMonitor& self) {
            if (self.deps_.pip) {
                self.deps_.pip->hide();
            }
        });
    } else {
        awayConfirmCount_ = 0;
        awayMissCount_ = 0;
        awayPresenceActive_ = false;
        cancelAwayLockWorkItemOnMain();
        onMain([](PrivacyMonitor& self) {
            if (self.deps_.fullscreen) {
                self.deps_.fullscreen->hide();
            }
        });
    }
    main_->async([self = shared_from_this(), on] { self->awayMode.set(on); });
}

void PrivacyMonitor::processAwayWhenFewerThanTwoFaces(const std::vector<FaceObservation>& sorted,
                                                      const PixelBufferPtr& pixelBuffer, Orientation orientation) {
    if (sorted.empty()) {
        awayConfirmCount_ = 0;
        ++awayMissCount_;
        if (awayPresenceActive_ && awayMissCount_ >= missNeeded) {
            awayPresenceActive_ = false;
            awayMissCount_ = 0;
            cancelAwayLockWorkItemOnMain();
            onMain([](PrivacyMonitor& self) {
                if (self.deps_.fullscreen) {
                    self.deps_.fullscreen->hide();
                }
            });
        }
        return;
    }

    const imaging::Rect box = sorted.front().boundingBox;
    ++awayConfirmCount_;
    awayMissCount_ = 0;
    if (awayConfirmCount_ >= confirmNeeded && !awayPresenceActive_) {
        awayPresenceActive_ = true;
        onMain([](PrivacyMonitor& self) {
            if (self.deps_.fullscreen) {
                self.deps_.fullscreen->show();
            }
        });
        scheduleAwayModeLockIfNeeded();
    }
    if (awayPresenceActive_) {
        const double now = deps_.clock->now();
        if (now - lastFullscreenUpdate_ >= fullscreenMinInterval) {
            lastFullscreenUpdate_ = now;
            if (deps_.fullscreen) {
                deps_.fullscreen->update(pixelBuffer, box, orientation, cropPaddingFraction, awayFullscreenCenterZoom,
                                         ciContext_);
            }
        }
    }
}

void PrivacyMonitor::reconcileAwayModeWhenSecondFaceAppears() {
    awayConfirmCount_ = 0;
    awayMissCount_ = 0;
    cancelAwayLockWorkItemOnMain();
    if (awayPresenceActive_) {
        awayPresenceActive_ = false;
        onMain([](PrivacyMonitor& self) {
            if (self.deps_.fullscreen) {
                self.deps_.fullscreen->hide();
            }
        });
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
    if (!awayModeProcess_ || !awayPresenceActive_ || awayLockTriggeredThisSession_.load()) {
        return;
    }
    awayLockTriggeredThisSession_ = true;
    if (!deps_.screenLock) {
        return;
    }
    deps_.screenLock->lockNow([self = shared_from_this()](bool success, std::optional<std::string> message) {
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

// ---- preview -------------------------------------------------------------------------------

void PrivacyMonitor::maybePublishPreview(const PixelBufferPtr& pixelBuffer, Orientation orientation,
                                         const std::vector<FaceObservation>& sorted) {
    const double now = deps_.clock->now();
    if (now - lastPreviewPublish_ < previewMinInterval) {
        return;
    }
    // The slot is used up before any image work, so a failed frame still counts.
    lastPreviewPublish_ = now;
    if (!pixelBuffer || pixelBuffer->width() <= 1 || pixelBuffer->height() <= 1) {
        return;
    }
    const imaging::Size upright = imaging::orientedSize(pixelBuffer->width(), pixelBuffer->height(), orientation);
    const double factor = upright.width > 1 ? std::min(previewMaxWidth / upright.width, 1.0) : 1.0;
    std::optional<imaging::Image> image = ciContext_.renderUpright(*pixelBuffer, orientation, factor);
    if (!image) {
        return;
    }
    std::vector<PreviewFaceItem> items;
    for (std::size_t i = 0; i < sorted.size() && i < 2; ++i) {
        items.push_back(PreviewFaceItem{sorted[i].boundingBox, i == 0});
    }
    main_->async([self = shared_from_this(), image = std::move(*image), items = std::move(items)]() mutable {
        self->previewImage.set(std::move(image));
        self->previewFaceRects.set(std::move(items));
    });
}

// ---- start and stop ------------------------------------------------------------------------

void PrivacyMonitor::start() {
    onSessionQueue(&PrivacyMonitor::startSessionIfNeeded);
}

void PrivacyMonitor::stop() {
    onSessionQueue(&PrivacyMonitor::stopOnSessionQueue);
}

void PrivacyMonitor::startSessionIfNeeded() {
    if (!deps_.session) {
        publishStatus("Камера: ошибка");
        return;
    }
    if (deps_.faceDetector && !deps_.faceDetector->isAvailable()) {
        // A guard that cannot see must not pretend to watch.
        publishStatus("Детектор лиц: ошибка");
        return;
    }
    switch (deps_.session->authorizationStatus()) {
        case CameraAuthorization::notDetermined:
            deps_.session->requestAccess([weak = weak_from_this()](bool granted) {
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
    CameraSession& session = *deps_.session;
    session.beginConfiguration();
    session.removeAllInputsAndOutputs();
    const std::optional<CameraDevice> device = session.defaultVideoDevice();
    if (!device || !session.addInput(*device)) {
        publishStatus("Камера: ошибка");
        session.commitConfiguration();
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
    CameraSession& session = *deps_.session;
    cameraPhase_ = CameraPhase::running;
    ++cameraEpoch_;
    session.setSampleBufferDelegate(weak_from_this(), sessionQueue_);
    onMain([](PrivacyMonitor& self) {
        if (!self.deps_.session->isRunning()) {
            self.deps_.session->startRunning();
        }
        self.isRunning.set(true);
    });
    publishStatus("● " + device.localizedName);
    session.commitConfiguration();
}

void PrivacyMonitor::stopOnSessionQueue() {
    const bool onlookerWasConfirmed = presenceActive_;
    awayModeProcess_ = false;
    awayLockTriggeredThisSession_ = false;
    if (deps_.session) {
        deps_.session->setSampleBufferDelegate({}, nullptr);
    }
    cancelAwayLockWorkItemOnMain();
    cameraPhase_ = CameraPhase::off;
    ++cameraEpoch_;
    // The decision state is reset here, on its own queue and with frames already detached, rather
    // than on the main thread, so it cannot race with a setAwayMode or a panel dismissal queued
    // after this stop.
    resetDecisionState();
    main_->async([self = shared_from_this(), onlookerWasConfirmed] { self->stopOnMain(onlookerWasConfirmed); });
}

void PrivacyMonitor::resetDecisionState() {
    confirmCount_ = 0;
    missCount_ = 0;
    presenceActive_ = false;
    lastBringTriggerFrontTime_ = 0;
    pipHoldScheduled_ = false;
    pipUserDismissed_ = false;
    absenceForAutoAwayStartedAt_.reset();
    awayConfirmCount_ = 0;
    awayMissCount_ = 0;
    awayPresenceActive_ = false;
}

void PrivacyMonitor::stopOnMain(bool onlookerWasConfirmed) {
    cancelPiPHideWorkItem();
    // "Стоп" ends the waiting for a camera.
    if (cameraRetryWorkItem_) {
        cameraRetryWorkItem_->cancel();
        cameraRetryWorkItem_.reset();
    }
    if (deps_.session && deps_.session->isRunning()) {
        deps_.session->stopRunning();
    }
    if (onlookerWasConfirmed) {
        closeTriggerDocumentIfPossible();
    }
    cancelAwayLockWorkItemOnMain();
    if (deps_.pip) {
        deps_.pip->hide();
    }
    if (deps_.fullscreen) {
        deps_.fullscreen->hide();
    }
    isRunning.set(false);
    awayMode.set(false);
    statusLine.set("Стоп");
    previewImage.set(std::nullopt);
    previewFaceRects.set({});
}

// ---- trigger file --------------------------------------------------------------------------

std::optional<std::string> PrivacyMonitor::bundledDefaultTriggerURL() const {
    if (!deps_.resources) {
        return std::nullopt;
    }
    return deps_.resources->pathForResource(kDefaultTriggerName, kDefaultTriggerExtension);
}

std::optional<std::string> PrivacyMonitor::resolvedTriggerURL() const {
    if (deps_.settings && deps_.fileSystem) {
        std::optional<std::string> stored = deps_.settings->string(customTriggerPathKey);
        if (stored && !stored->empty() && deps_.fileSystem->fileExists(*stored)) {
            return stored;
        }
    }
    return bundledDefaultTriggerURL();
}

void PrivacyMonitor::refreshTriggerSummary() {
    onMain([](PrivacyMonitor& self) {
        if (self.deps_.settings && self.deps_.fileSystem) {
            std::optional<std::string> stored = self.deps_.settings->string(customTriggerPathKey);
            if (stored && !stored->empty() && self.deps_.fileSystem->fileExists(*stored)) {
                self.triggerFileSummary.set(std::filesystem::path(*stored).filename().string());
                return;
            }
        }
        self.triggerFileSummary.set(self.bundledDefaultTriggerURL() ? "По умолчанию" : "Нет файла");
    });
}

void PrivacyMonitor::pickTriggerFile() {
    if (!deps_.fileChooser) {
        return;
    }
    deps_.fileChooser->chooseTriggerFile([weak = weak_from_this()](std::optional<std::string> path) {
        auto self = weak.lock();
        if (!self || !path || path->empty()) {
            return;
        }
        if (self->deps_.settings && !self->deps_.settings->setString(customTriggerPathKey, *path)) {
            self->publishStatus(kSettingsNotSaved);
        }
        self->refreshTriggerSummary();
    });
}

void PrivacyMonitor::clearCustomTriggerFile() {
    if (deps_.settings && !deps_.settings->remove(customTriggerPathKey)) {
        publishStatus(kSettingsNotSaved);
    }
    refreshTriggerSummary();
}

void PrivacyMonitor::bringTriggerDocumentToFront() {
    std::optional<std::string> path = resolvedTriggerURL();
    if (!path) {
        publishStatus("Нет файла триггера");
        return;
    }
    onMain([path = std::move(*path)](PrivacyMonitor& self) {
        if (!self.deps_.workspace || !self.deps_.workspace->open(path)) {
            self.publishStatus("Файл не открылся");
        }
    });
}

void PrivacyMonitor::closeTriggerDocumentIfPossible() {
    std::optional<std::string> path = resolvedTriggerURL();
    if (!path || !deps_.documentCloser || !deps_.backgroundQueue) {
        return;
    }
    deps_.backgroundQueue->async(
        [closer = deps_.documentCloser, standardized = standardizePath(*path, deps_.homeDirectory)] {
            closer->closeDocument(standardized);
        });
}

}  // namespace tovak::monitor

// PrivacyMonitor: how it is made, the mechanisms every part shares, the road of one frame, the
// preview and the trigger document's choice. The decisions are in PrivacyMonitorOnlooker.cpp and
// PrivacyMonitorAway.cpp, starting and stopping the camera in PrivacyMonitorCamera.cpp.
#include "monitor/PrivacyMonitor.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "runtime/SerialQueue.h"

namespace tovak::monitor {

using imaging::Orientation;
using imaging::PixelBufferPtr;

std::shared_ptr<PrivacyMonitor> PrivacyMonitor::create(Ports ports) {
    std::shared_ptr<PrivacyMonitor> monitor(new PrivacyMonitor(std::move(ports)));
    std::weak_ptr<PrivacyMonitor> weak = monitor;
    if (monitor->ports_.pip) {
        monitor->ports_.pip->setOnClose([weak] {
            if (auto self = weak.lock()) {
                self->userClosedPiP();
            }
        });
    }
    if (monitor->ports_.lockWatcher) {
        monitor->ports_.lockWatcher->setOnChange([weak](bool locked) {
            if (auto self = weak.lock()) {
                self->sessionLockChanged(locked);
            }
        });
    }
    if (monitor->ports_.session) {
        monitor->ports_.session->setInterruptionHandler([weak](CameraInterruption reason) {
            if (auto self = weak.lock()) {
                self->cameraInterrupted(reason, self->cameraEpoch_.load());
            }
        });
    }
    monitor->refreshTriggerSummary();
    monitor->loadIgnoredFaces();
    monitor->loadLockOnLeave();
    return monitor;
}

PrivacyMonitor::PrivacyMonitor(Ports ports)
    : statusLine("Готов", *ports.mainQueue),
      desktopNotice("", *ports.mainQueue),
      isRunning(false, *ports.mainQueue),
      triggerFileSummary("", *ports.mainQueue),
      awayMode(false, *ports.mainQueue),
      previewImage(std::nullopt, *ports.mainQueue),
      previewFaceRects({}, *ports.mainQueue),
      ignoredFaces({}, *ports.mainQueue),
      pausedUntil(std::nullopt, *ports.mainQueue),
      lockOnLeaveSeconds(std::nullopt, *ports.mainQueue),
      ports_(std::move(ports)),
      main_(ports_.mainQueue),
      sessionQueue_(ports_.sessionQueue),
      trigger_(ports_.settings, ports_.fileSystem, ports_.resources, ports_.workspace, ports_.documentCloser,
               ports_.fileChooser, ports_.backgroundQueue, ports_.homeDirectory) {
    if (!sessionQueue_) {
        sessionQueue_ = std::make_shared<runtime::SerialQueue>("tovak.session");
        ports_.sessionQueue = sessionQueue_;
    }
    if (!ports_.wallClock) {
        ports_.wallClock = std::make_shared<runtime::SystemWallClock>();
    }
    if (!ports_.isOperatingSystemAtLeast) {
        ports_.isOperatingSystemAtLeast = [](int, int, int) { return true; };
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

void PrivacyMonitor::hideOnMain(std::shared_ptr<FacePresenter> presenter) {
    if (presenter) {
        onMain([presenter = std::move(presenter)](PrivacyMonitor&) { presenter->hide(); });
    }
}

// ---- the road of one frame (session queue) -------------------------------------------------

Orientation PrivacyMonitor::orientationFor(const CaptureConnection& connection) const {
    if (ports_.isOperatingSystemAtLeast(14, 0, 0)) {
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
    if (!ports_.faceDetector) {
        return {};
    }
    std::unique_ptr<FaceRequestHandler> handler = ports_.faceDetector->makeHandler(pixelBuffer, orientation);
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
    if (ports_.observer) {
        ports_.observer->frameAnalysed(sorted.size());
    }
    decide(sorted, pixelBuffer, orientation);
}

void PrivacyMonitor::decide(const std::vector<FaceObservation>& sorted, const PixelBufferPtr& pixelBuffer,
                            Orientation orientation) {
    countFacesForLeaveLock(sorted.size());
    advanceAutoAwayTimer(sorted.size());
    maybePublishPreview(pixelBuffer, orientation, sorted);
    if (sorted.size() < 2) {
        if (awayModeProcess_) {
            processAwayWhenFewerThanTwoFaces(sorted, pixelBuffer, orientation);
        }
        onlookerMissed();
        return;
    }
    if (awayModeProcess_) {
        reconcileAwayModeWhenSecondFaceAppears();
    }
    decideOnlooker(sorted, pixelBuffer, orientation);
}

// Ten seconds without a face switch away mode on, from the next frame.
void PrivacyMonitor::advanceAutoAwayTimer(std::size_t faceCount) {
    if (awayModeProcess_ || !ports_.session || !ports_.session->isRunning()) {
        absenceForAutoAwayStartedAt_.reset();
        return;
    }
    if (faceCount != 0) {
        absenceForAutoAwayStartedAt_.reset();
        return;
    }
    const double now = ports_.clock->now();
    if (!absenceForAutoAwayStartedAt_) {
        absenceForAutoAwayStartedAt_ = now;
    } else if (now - *absenceForAutoAwayStartedAt_ >= autoAwayAfterNoFaceSeconds) {
        absenceForAutoAwayStartedAt_.reset();
        switchAwayOnByItself();
    }
}

// ---- preview -------------------------------------------------------------------------------

void PrivacyMonitor::maybePublishPreview(const PixelBufferPtr& pixelBuffer, Orientation orientation,
                                         const std::vector<FaceObservation>& sorted) {
    if (!previewWanted_) {
        return;
    }
    const double now = ports_.clock->now();
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

// ---- trigger document ----------------------------------------------------------------------

void PrivacyMonitor::refreshTriggerSummary() {
    onMain([](PrivacyMonitor& self) { self.triggerFileSummary.set(self.trigger_.summary()); });
}

void PrivacyMonitor::pickTriggerFile() {
    trigger_.pick([weak = weak_from_this()](bool saved) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (!saved) {
            self->publishStatus("Настройки не сохранились");
        }
        self->refreshTriggerSummary();
    });
}

void PrivacyMonitor::clearCustomTriggerFile() {
    if (!trigger_.clearChoice()) {
        publishStatus("Настройки не сохранились");
    }
    refreshTriggerSummary();
}

void PrivacyMonitor::bringTriggerDocumentToFront() {
    if (ports_.observer) {
        ports_.observer->documentRaised();
    }
    std::optional<std::string> path = trigger_.resolvedPath();
    if (!path) {
        publishStatus("Нет файла триггера");
        return;
    }
    onMain([path = std::move(*path)](PrivacyMonitor& self) {
        if (!self.trigger_.open(path)) {
            self.publishStatus("Файл не открылся");
        }
    });
}

}  // namespace tovak::monitor

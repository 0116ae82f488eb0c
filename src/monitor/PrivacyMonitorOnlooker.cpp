// PrivacyMonitor, continued: somebody looking over the user's shoulder. A second face for three
// frames in a row raises the trigger document and shows the panel; fifteen frames without one close
// the document, and the panel goes two seconds later unless the face comes back.
#include "monitor/PrivacyMonitor.h"

namespace tovak::monitor {

using imaging::Orientation;
using imaging::PixelBufferPtr;

void PrivacyMonitor::decideOnlooker(const std::vector<FaceObservation>& sorted, const PixelBufferPtr& pixelBuffer,
                                    Orientation orientation) {
    cancelPiPHoldIfSecondFaceReturned();
    const imaging::Rect onlookerBox = sorted[1].boundingBox;
    if (onlooker_.seen() == PresenceCounter::Change::confirmed) {
        pipUserDismissed_ = false;
        if (ports_.observer) {
            ports_.observer->presenceConfirmed();
        }
        lastBringTriggerFrontTime_ = ports_.clock->now();
        bringTriggerDocumentToFront();
        if (ports_.pip) {
            ports_.pip->show();
        }
    }
    if (!onlooker_.active() || pipUserDismissed_) {
        return;
    }
    const double now = ports_.clock->now();
    if (now - lastBringTriggerFrontTime_ >= bringTriggerFrontInterval) {
        lastBringTriggerFrontTime_ = now;
        bringTriggerDocumentToFront();
    }
    if (now - lastPiPUpdate_ >= pipMinInterval) {
        lastPiPUpdate_ = now;
        if (ports_.pip) {
            ports_.pip->update(pixelBuffer, onlookerBox, orientation, cropPaddingFraction, pipCenterZoom, ciContext_);
        }
    }
}

void PrivacyMonitor::onlookerMissed() {
    pipUserDismissed_ = false;
    if (onlooker_.missed() != PresenceCounter::Change::ended) {
        return;
    }
    lastBringTriggerFrontTime_ = 0;
    if (ports_.observer) {
        ports_.observer->presenceEnded();
    }
    trigger_.close();
    schedulePiPHideAfterHold();
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
            if (monitor->ports_.pip) {
                monitor->ports_.pip->hide();
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
        self->hideOnMain(self->ports_.pip);
    });
}

}  // namespace tovak::monitor

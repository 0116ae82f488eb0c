// PrivacyMonitor, continued: the lock when the user leaves, off unless the user asks for it. It is
// counted from away mode switching itself on, after ten seconds with nobody in the picture: when the
// chosen delay has passed the session is locked through the same chain as for a visitor. A face in
// the picture for three frames in a row before then means the user has not left (a single stray
// detection does not count); switching away mode, a pause and "Стоп" cancel it too.
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "monitor/PrivacyMonitor.h"

namespace tovak::monitor {

std::optional<double> PrivacyMonitor::parseLockOnLeave(const std::string& text) {
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds < 0 || seconds > lockOnLeaveMaxSeconds) {
        return std::nullopt;
    }
    return seconds;
}

void PrivacyMonitor::setLockOnLeave(std::optional<double> seconds) {
    assert(main_->isCurrent());
    assert(!seconds || (*seconds >= 0 && *seconds <= lockOnLeaveMaxSeconds));
    if (ports_.settings) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", seconds.value_or(0));
        const bool saved =
            seconds ? ports_.settings->setString(lockOnLeaveKey, text) : ports_.settings->remove(lockOnLeaveKey);
        if (!saved) {
            publishStatus("Настройки не сохранились");
        }
    }
    handLockOnLeaveToSessionQueue(seconds);
    lockOnLeaveSeconds.set(seconds);
}

void PrivacyMonitor::handLockOnLeaveToSessionQueue(std::optional<double> seconds) {
    sessionQueue_->async([weak = weak_from_this(), seconds] {
        if (auto self = weak.lock()) {
            // A lock armed under the old choice is not the one the user has just made.
            self->disarmLeaveLock();
            self->leaveLockDelay_ = seconds;
        }
    });
}

void PrivacyMonitor::loadLockOnLeave() {
    onMain([](PrivacyMonitor& self) {
        const std::optional<std::string> stored =
            self.ports_.settings ? self.ports_.settings->string(lockOnLeaveKey) : std::nullopt;
        if (!stored) {
            return;
        }
        const std::optional<double> seconds = parseLockOnLeave(*stored);
        if (!seconds) {
            // Off, and said: the user chose a lock and does not get it.
            self.publishStatus("Настройка блокировки при уходе повреждена");
            return;
        }
        self.handLockOnLeaveToSessionQueue(seconds);
        self.lockOnLeaveSeconds.set(seconds);
    });
}

// Queued like setAwayMode: the rest of the current frame still sees normal mode.
void PrivacyMonitor::switchAwayOnByItself() {
    sessionQueue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->applyAwayMode(true);
            self->armLeaveLock();
        }
    });
}

void PrivacyMonitor::armLeaveLock() {
    if (!leaveLockDelay_) {
        return;
    }
    const double delay = *leaveLockDelay_;
    leaveLockArmed_ = true;
    leaveLockFaceFrames_ = 0;
    const std::uint64_t arming = ++leaveLockArming_;
    if (ports_.observer) {
        ports_.observer->leaveLock(LeaveLock::armed, delay);
    }
    onMain([arming, delay](PrivacyMonitor& self) {
        if (self.leaveLockWorkItem_) {
            self.leaveLockWorkItem_->cancel();
        }
        self.leaveLockWorkItem_ = runtime::WorkItem::make([weak = self.weak_from_this(), arming, delay] {
            if (auto monitor = weak.lock()) {
                monitor->leaveLockWorkItem_.reset();
                monitor->sessionQueue_->async([monitor, arming, delay] { monitor->leaveLockCheck(arming, delay); });
            }
        });
        self.main_->asyncAfter(delay, self.leaveLockWorkItem_);
    });
}

void PrivacyMonitor::disarmLeaveLock() {
    if (!leaveLockArmed_) {
        return;
    }
    leaveLockArmed_ = false;
    if (ports_.observer) {
        ports_.observer->leaveLock(LeaveLock::cancelled, leaveLockDelay_.value_or(0));
    }
    onMain([](PrivacyMonitor& self) {
        if (self.leaveLockWorkItem_) {
            self.leaveLockWorkItem_->cancel();
            self.leaveLockWorkItem_.reset();
        }
    });
}

void PrivacyMonitor::countFacesForLeaveLock(std::size_t faceCount) {
    if (!leaveLockArmed_) {
        return;
    }
    if (faceCount == 0) {
        leaveLockFaceFrames_ = 0;
    } else if (++leaveLockFaceFrames_ >= confirmNeeded) {
        disarmLeaveLock();
    }
}

void PrivacyMonitor::leaveLockCheck(std::uint64_t arming, double delay) {
    if (!leaveLockArmed_ || arming != leaveLockArming_) {
        return;
    }
    // Locked meanwhile, or a visitor's lock already set off: nothing is left to lock.
    if (!awayModeProcess_ || sessionLocked_ || awayLockTriggeredThisSession_.load()) {
        disarmLeaveLock();
        return;
    }
    leaveLockArmed_ = false;
    if (ports_.observer) {
        ports_.observer->leaveLock(LeaveLock::requested, delay);
    }
    lockSession();
}

}  // namespace tovak::monitor

// PrivacyMonitor, continued: the pause the user asks for. The camera goes off until a time of day;
// monitoring stays on, so "Стоп" is still offered, and "Старт" or resume() end the pause at once.
// A pause that needed remembering would be a guard switched off, so it ends by itself, and at that
// time of day even when the machine slept through it: the monotonic timers of the main queue stop
// during a suspend, so the calendar clock is looked at again at least every half a minute.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "monitor/PrivacyMonitor.h"

namespace tovak::monitor {

namespace {

constexpr double kPauseCheckSeconds = 30.0;

std::string pauseText(double until) {
    const std::time_t when = static_cast<std::time_t>(until);
    std::tm local{};
    localtime_r(&when, &local);
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", local.tm_hour, local.tm_min);
    return std::string("Пауза до ") + text;
}

}  // namespace

void PrivacyMonitor::pauseFor(double seconds) {
    const double until = ports_.wallClock->now() + seconds;
    sessionQueue_->async([weak = weak_from_this(), until] {
        if (auto self = weak.lock()) {
            self->beginUserPause(until);
        }
    });
}

void PrivacyMonitor::resume() {
    sessionQueue_->async([weak = weak_from_this()] {
        auto self = weak.lock();
        if (self && self->cameraPhase_ == CameraPhase::pausedByUser) {
            self->endUserPause();
        }
    });
}

void PrivacyMonitor::beginUserPause(double until) {
    if (cameraPhase_ == CameraPhase::off) {
        return;
    }
    // Whoever asks for a pause is at the desk.
    if (awayModeProcess_) {
        applyAwayMode(false);
    }
    suspendCamera(CameraPhase::pausedByUser, pauseText(until));
    onMain([until](PrivacyMonitor& self) { self.pausedUntil.set(until); });
    schedulePauseCheck(until, cameraEpoch_.load());
}

void PrivacyMonitor::endUserPause() {
    onMain([](PrivacyMonitor& self) {
        if (self.pauseWorkItem_) {
            self.pauseWorkItem_->cancel();
            self.pauseWorkItem_.reset();
        }
        self.pausedUntil.set(std::nullopt);
    });
    if (sessionLocked_) {
        suspendCamera(CameraPhase::pausedForLock, "Пауза: экран заблокирован");
        return;
    }
    askForCameraNow();
}

void PrivacyMonitor::schedulePauseCheck(double until, std::uint64_t epoch) {
    const double left = until - ports_.wallClock->now();
    const double wait = std::max(0.0, std::min(left, kPauseCheckSeconds));
    onMain([until, epoch, wait](PrivacyMonitor& self) {
        if (self.pauseWorkItem_) {
            self.pauseWorkItem_->cancel();
        }
        self.pauseWorkItem_ = runtime::WorkItem::make([weak = self.weak_from_this(), until, epoch] {
            if (auto monitor = weak.lock()) {
                monitor->pauseWorkItem_.reset();
                monitor->sessionQueue_->async([monitor, until, epoch] { monitor->pauseCheck(until, epoch); });
            }
        });
        self.main_->asyncAfter(wait, self.pauseWorkItem_);
    });
}

void PrivacyMonitor::pauseCheck(double until, std::uint64_t epoch) {
    if (cameraPhase_ != CameraPhase::pausedByUser || cameraEpoch_.load() != epoch) {
        return;
    }
    if (ports_.wallClock->now() < until) {
        schedulePauseCheck(until, epoch);
        return;
    }
    endUserPause();
}

}  // namespace tovak::monitor

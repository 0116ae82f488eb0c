#include "lock/SessionLockState.h"

#include <cmath>

namespace tovak::lock {

void SessionLockState::screenSaverChanged(const std::string& service, bool active, std::optional<LockerPolicy> policy,
                                          double now) {
    if (!active) {
        active_.erase(service);
        return;
    }
    // Told twice (a signal after Tovak's own confirmation): the first coming counts.
    active_.try_emplace(service, Saver{now, policy, false});
}

void SessionLockState::ownLockConfirmed(const std::string& service, double now) {
    // The locker answered that it is active: that is the coming, should its signal still be on the way.
    active_.try_emplace(service, Saver{now, std::nullopt, false}).first->second.ours = true;
}

std::optional<double> SessionLockState::lockedFrom(const Saver& saver) {
    if (saver.ours) {
        return saver.since;
    }
    // A delay that is no number or below zero is no setting a locker acts on: no lock is counted.
    if (!saver.policy || !saver.policy->locks || !std::isfinite(saver.policy->delaySeconds) ||
        saver.policy->delaySeconds < 0) {
        return std::nullopt;
    }
    return saver.since + saver.policy->delaySeconds;
}

bool SessionLockState::locked(double now) const {
    if (lockedHint_) {
        return true;
    }
    for (const auto& [service, saver] : active_) {
        if (const std::optional<double> from = lockedFrom(saver); from && now >= *from) {
            return true;
        }
    }
    return false;
}

std::optional<double> SessionLockState::nextChange(double now) const {
    std::optional<double> next;
    for (const auto& [service, saver] : active_) {
        if (const std::optional<double> from = lockedFrom(saver); from && *from > now && (!next || *from < *next)) {
            next = from;
        }
    }
    return next;
}

}  // namespace tovak::lock

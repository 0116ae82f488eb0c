#pragma once

#include <optional>

#include "lock/SessionLockState.h"

namespace tovak::lock {

// Where a locker keeps its lock settings in GSettings: its schema's lock-enabled and lock-delay
// (counted in delayUnitSeconds), and the lockdown schema whose disable-lock-screen forbids the lock.
struct GSettingsLock {
    const char* schema;
    const char* lockdownSchema;
    double delayUnitSeconds;
};

// What those settings say now, read through the user's own settings backend (dconf on a desktop),
// as the locker reads them. None when the schema is not installed or a value is not one the locker
// could act on (a negative delay). Plain GLib: kept apart from Qt, whose keywords its headers use.
[[nodiscard]] std::optional<LockerPolicy> gsettingsLockerPolicy(const GSettingsLock& where);

}  // namespace tovak::lock

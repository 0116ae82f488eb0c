#include "system/PolicySettingsStore.h"

namespace tovak::system {

namespace {

constexpr const char* kIgnoredFacesKey = "tovak.ignoredFaces";
constexpr const char* kLockOnLeaveKey = "tovak.lockOnLeaveSeconds";

}  // namespace

PolicySettingsStore::PolicySettingsStore(std::shared_ptr<monitor::SettingsStore> user,
                                         std::shared_ptr<const Policy> policy)
    : user_(std::move(user)), policy_(std::move(policy)) {}

std::optional<std::string> PolicySettingsStore::administrators(const std::string& key) const {
    std::optional<std::string> value = policy_->value(key);
    // The user's file keeps "lock on leave" off as no value at all.
    if (key == kLockOnLeaveKey && value == "off") {
        return std::nullopt;
    }
    return value;
}

bool PolicySettingsStore::isLocked(const std::string& key) const {
    return key == kIgnoredFacesKey ? !policy_->markedFacesAllowed() : policy_->isLocked(key);
}

std::optional<std::string> PolicySettingsStore::string(const std::string& key) const {
    if (key == kIgnoredFacesKey && !policy_->markedFacesAllowed()) {
        return std::nullopt;
    }
    if (policy_->isLocked(key)) {
        return administrators(key);
    }
    if (std::optional<std::string> own = user_->string(key)) {
        return own;
    }
    return administrators(key);
}

bool PolicySettingsStore::setString(const std::string& key, const std::string& value) {
    if (isLocked(key) || !user_->setString(key, value)) {
        return false;
    }
    if (onChange_) {
        onChange_(key, value);
    }
    return true;
}

bool PolicySettingsStore::remove(const std::string& key) {
    if (isLocked(key) || !user_->remove(key)) {
        return false;
    }
    if (onChange_) {
        onChange_(key, std::nullopt);
    }
    return true;
}

}  // namespace tovak::system

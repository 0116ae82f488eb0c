#pragma once

#include <functional>
#include <memory>

#include "monitor/ports/Services.h"
#include "system/Policy.h"

namespace tovak::system {

// The user's settings under the administrator's policy: a locked key reads as the administrator
// set it whatever the user's file holds, and cannot be written; an unlocked key the user never set
// reads as the administrator's default. Marked faces read as none and cannot be saved where the
// policy forbids them. Safe from any thread, as the store beneath it is.
class PolicySettingsStore final : public monitor::SettingsStore {
  public:
    PolicySettingsStore(std::shared_ptr<monitor::SettingsStore> user, std::shared_ptr<const Policy> policy);

    [[nodiscard]] std::optional<std::string> string(const std::string& key) const override;
    bool setString(const std::string& key, const std::string& value) override;
    bool remove(const std::string& key) override;

    // Told of each change the user's file took (value none: removed), on the thread that made it.
    // Set before the store is shared.
    void setOnChange(std::function<void(const std::string& key, const std::optional<std::string>& value)> onChange) {
        onChange_ = std::move(onChange);
    }
    // Whether the user may not change the key (its control is shown disabled).
    [[nodiscard]] bool isLocked(const std::string& key) const;
    [[nodiscard]] const Policy& policy() const { return *policy_; }

  private:
    [[nodiscard]] std::optional<std::string> administrators(const std::string& key) const;

    std::shared_ptr<monitor::SettingsStore> user_;
    std::shared_ptr<const Policy> policy_;
    std::function<void(const std::string&, const std::optional<std::string>&)> onChange_;
};

}  // namespace tovak::system

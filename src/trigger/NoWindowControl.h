#pragma once

#include "trigger/WindowControl.h"

namespace tovak::trigger {

// Where no desktop answers: nothing can be seen or done, and every caller is told so.
class NoWindowControl final : public WindowControl {
  public:
    [[nodiscard]] std::string name() const override { return "none"; }
    [[nodiscard]] std::optional<int> countWindowsTitled(const std::string&) override { return std::nullopt; }
    Outcome raiseWindowsTitled(const std::string&) override { return Outcome::unsupported; }
    Outcome closeWindowsTitled(const std::string&) override { return Outcome::unsupported; }
    Outcome placePanel(const std::string&, const DesktopRect&) override { return Outcome::unsupported; }
    [[nodiscard]] std::optional<DesktopRect> activeScreen() override { return std::nullopt; }
};

}  // namespace tovak::trigger

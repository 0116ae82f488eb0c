#pragma once

#include <memory>
#include <optional>
#include <string>

#include "trigger/WindowControl.h"
#include "trigger/wlroots/SwayIpc.h"
#include "trigger/wlroots/ToplevelConnection.h"

namespace tovak::trigger {

// Windows of a wlroots compositor (sway, Hyprland, labwc, Wayfire...), native Wayland and XWayland
// alike, through its foreign-toplevel management protocol: the list a taskbar sees, each window
// activated for the seat or asked to close as its close button would. The protocol cannot place
// windows: Tovak's panel is placed through sway's own IPC where $SWAYSOCK names it, and the screen
// the user works on is sway's focused output; elsewhere both are "unsupported".
//
// The connection is read continuously on a thread of its own; one that the compositor dropped is
// made afresh at the next call.
class WlrootsWindowControl final : public WindowControl {
  public:
    // None when the compositor does not answer on the display (empty: $WAYLAND_DISPLAY) or does
    // not offer the protocol. swaySocket empty: no sway IPC.
    static std::shared_ptr<WlrootsWindowControl> connect(const std::string& waylandDisplay,
                                                         const std::string& swaySocket);

    [[nodiscard]] std::string name() const override { return "wlroots"; }
    [[nodiscard]] std::optional<int> countWindowsTitled(const std::string& fileName) override;
    Outcome raiseWindowsTitled(const std::string& fileName) override;
    Outcome closeWindowsTitled(const std::string& fileName) override;
    Outcome placePanel(const std::string& panelTitle, const DesktopRect& where) override;
    [[nodiscard]] std::optional<DesktopRect> activeScreen() override;

  private:
    WlrootsWindowControl(std::string waylandDisplay, std::unique_ptr<ToplevelConnection> connection,
                         std::string swaySocket);
    // The live connection, made again when the compositor has dropped the last one; none when it
    // cannot be.
    ToplevelConnection* connection();

    std::string waylandDisplay_;
    std::unique_ptr<ToplevelConnection> connection_;
    std::optional<SwayIpc> sway_;
};

}  // namespace tovak::trigger

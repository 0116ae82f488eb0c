#pragma once

#include <list>
#include <memory>
#include <optional>
#include <string>

#include "trigger/WindowControl.h"
#include "trigger/wlroots/SwayIpc.h"

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

namespace tovak::trigger {

// Windows of a wlroots compositor (sway, Hyprland, labwc, Wayfire...), native Wayland and XWayland
// alike, through its foreign-toplevel management protocol: the list a taskbar sees, each window
// activated for the seat or asked to close as its close button would. The protocol cannot place
// windows: Tovak's panel is placed through sway's own IPC where $SWAYSOCK names it, and the screen
// the user works on is sway's focused output; elsewhere both are "unsupported".
//
// One connection of its own to the compositor; its events are read on the calling thread, inside
// each call.
class WlrootsWindowControl final : public WindowControl {
  public:
    // None when the compositor does not answer on the display (empty: $WAYLAND_DISPLAY) or does
    // not offer the protocol. swaySocket empty: no sway IPC.
    static std::shared_ptr<WlrootsWindowControl> connect(const std::string& waylandDisplay,
                                                         const std::string& swaySocket);
    ~WlrootsWindowControl() override;
    WlrootsWindowControl(const WlrootsWindowControl&) = delete;
    WlrootsWindowControl& operator=(const WlrootsWindowControl&) = delete;

    [[nodiscard]] std::string name() const override { return "wlroots"; }
    [[nodiscard]] std::optional<int> countWindowsTitled(const std::string& fileName) override;
    Outcome raiseWindowsTitled(const std::string& fileName) override;
    Outcome closeWindowsTitled(const std::string& fileName) override;
    Outcome placePanel(const std::string& panelTitle, const DesktopRect& where) override;
    [[nodiscard]] std::optional<DesktopRect> activeScreen() override;

    // What the protocol's listeners fill in; public for them only.
    struct Toplevel {
        WlrootsWindowControl* owner = nullptr;
        zwlr_foreign_toplevel_handle_v1* handle = nullptr;
        std::string title;
    };
    struct Globals {
        WlrootsWindowControl* owner = nullptr;
        wl_seat* seat = nullptr;
        zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    };
    void adopt(zwlr_foreign_toplevel_handle_v1* handle);
    void forget(Toplevel* toplevel);

  private:
    WlrootsWindowControl(wl_display* display, std::string swaySocket);
    // Reads what the compositor has said since the last call; false when the connection is gone.
    bool catchUp();
    [[nodiscard]] std::list<Toplevel*> titled(const std::string& fileName);

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    Globals globals_;
    // Listed windows; a list so that the address each listener holds stays put.
    std::list<Toplevel> toplevels_;
    std::optional<SwayIpc> sway_;
};

}  // namespace tovak::trigger

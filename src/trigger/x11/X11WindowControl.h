#pragma once

#include <memory>
#include <string>

#include "trigger/WindowControl.h"
#include "trigger/x11/XcbWindows.h"

namespace tovak::trigger {

// Windows of an X display (X11 sessions, and XWayland windows where the compositor runs a window
// manager that follows EWMH): found through the window manager's client list, or a walk of the
// window tree where it publishes none; raised and closed through the window manager where it says
// it supports the request (_NET_SUPPORTED), closed by the client's own WM_DELETE_WINDOW elsewhere.
class X11WindowControl final : public WindowControl {
  public:
    // None when no X server answers on the display (empty: the one in $DISPLAY).
    static std::shared_ptr<X11WindowControl> connect(const std::string& display);

    [[nodiscard]] std::string name() const override { return "x11"; }
    [[nodiscard]] std::optional<int> countWindowsTitled(const std::string& fileName) override;
    Outcome raiseWindowsTitled(const std::string& fileName) override;
    Outcome closeWindowsTitled(const std::string& fileName) override;
    Outcome placePanel(const std::string& panelTitle, const DesktopRect& where) override;
    [[nodiscard]] std::optional<DesktopRect> activeScreen() override;

  private:
    explicit X11WindowControl(std::unique_ptr<XcbWindows> x) : x_(std::move(x)) {}
    [[nodiscard]] std::vector<xcb_window_t> windowsTitled(const std::string& fileName) const;
    [[nodiscard]] std::optional<DesktopRect> frameOf(xcb_window_t window) const;

    std::unique_ptr<XcbWindows> x_;
};

}  // namespace tovak::trigger

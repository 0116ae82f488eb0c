#pragma once

class QWidget;

namespace tovak::overlay {

// Asks the window manager to keep the top-level window on every virtual desktop. Call on the GUI
// thread before the window is first shown. Where the platform offers no way to ask (offscreen,
// Wayland without X11), nothing happens.
void requestAllDesktops(QWidget* window);

}  // namespace tovak::overlay

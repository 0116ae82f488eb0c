#pragma once

class QWidget;

namespace tovak::overlay {

// Asks the window manager to keep the top-level window on every virtual desktop. Call on the GUI
// thread before every show: window managers read it when they take a window on, and drop it when
// the window is hidden. Where the platform offers no way to ask (offscreen, Wayland without X11),
// nothing happens.
void requestAllDesktops(QWidget* window);
// Asks, the same way, that the window be left out of taskbars and pagers.
void requestNoTaskbarEntry(QWidget* window);

}  // namespace tovak::overlay

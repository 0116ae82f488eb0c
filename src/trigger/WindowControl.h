#pragma once

#include <memory>
#include <optional>
#include <string>

namespace tovak::trigger {

// A rectangle in the desktop's logical pixels, origin at the top left of the whole desktop.
struct DesktopRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const DesktopRect&, const DesktopRect&) = default;
};

// What one desktop session lets another program do with windows, through that desktop's own public
// way: the trigger document's windows found by their title, raised and asked to close; Tovak's own
// floating panel kept above, on every desktop, where it is asked to be; the screen the user works on.
//
// Calls block for a round trip (a few milliseconds on X11, up to a few hundred on a D-Bus service);
// they are made one at a time, from a thread that is not the GUI thread, never from two at once.
class WindowControl {
  public:
    // What a request found; "unsupported" when this desktop gives no way to do it at all.
    enum class Outcome { done, noWindow, unsupported, failed };

    virtual ~WindowControl() = default;

    // "x11", "gnome", "kde", "wlroots": for messages and tests.
    [[nodiscard]] virtual std::string name() const = 0;

    // The number of top-level windows whose title contains fileName (an empty name matches nothing);
    // none when windows cannot be seen here.
    [[nodiscard]] virtual std::optional<int> countWindowsTitled(const std::string& fileName) = 0;
    // Activates every such window as a taskbar would, restoring it when minimised; done when at
    // least one was raised.
    virtual Outcome raiseWindowsTitled(const std::string& fileName) = 0;
    // Asks every such window to close as its close button would; the application may ask to save.
    // Starts nothing and kills nothing.
    virtual Outcome closeWindowsTitled(const std::string& fileName) = 0;

    // Tovak's own panel, found by its exact title: kept above other windows, on every virtual
    // desktop, at the given place. Asked again at every show, since window managers forget.
    virtual Outcome placePanel(const std::string& panelTitle, const DesktopRect& where) = 0;
    // The screen holding the active window, none when unknown (the primary screen is then used).
    [[nodiscard]] virtual std::optional<DesktopRect> activeScreen() = 0;
};

// What the session says of itself, from the environment.
struct DesktopSession {
    // XDG_SESSION_TYPE: "x11", "wayland", or empty.
    std::string type;
    // XDG_CURRENT_DESKTOP, colon-separated, e.g. "GNOME", "ubuntu:GNOME", "KDE", "sway".
    std::string desktop;
    // WAYLAND_DISPLAY and DISPLAY.
    std::string waylandDisplay;
    std::string x11Display;

    static DesktopSession fromEnvironment();
};

// The window control of this session: the desktop's own backend where it answers (GNOME's shipped
// extension, KWin scripts, wlroots' foreign-toplevel protocol), else X11/XWayland; one that can do
// nothing (every call "unsupported") where none answers.
// notice, when given, receives what the user should hear of it (GNOME's extension waiting for the
// next login, say), empty when nothing.
[[nodiscard]] std::shared_ptr<WindowControl> makeWindowControl(const DesktopSession& session,
                                                               std::string* notice = nullptr);

}  // namespace tovak::trigger

#pragma once

#include <QDBusConnection>
#include <memory>
#include <optional>
#include <string>

#include "trigger/WindowControl.h"

namespace tovak::trigger {

// What became of Tovak's GNOME Shell extension when Tovak asked for it.
enum class GnomeExtensionState {
    ready,          // it answers Tovak
    notGnome,       // no GNOME Shell on this session bus
    afterLogin,     // installed after this Shell started: enabled, it runs from the next login
    refused,        // it runs but answers only the installed Tovak, not this executable
    extensionsOff,  // the user has switched all extensions off
    notInstalled,   // no copy of it in the data folders
    failed,         // the Shell could not start it, or would not enable it
};

// Window control on GNOME Shell (Wayland or X11 sessions alike), through the extension Tovak ships:
// an object the Shell exports on its own session bus connection, at /org/tovak/Tovak/WindowControl
// under org.gnome.Shell, interface org.tovak.Tovak.WindowControl. It answers only the installed
// Tovak (the extension checks the caller's executable).
class GnomeWindowControl final : public WindowControl {
  public:
    // The extension's ids: one for GNOME 43-44 (classic loading), one for 45 and later (an ES module).
    static constexpr const char* kUuid43 = "tovak-window-control-43@tovak.org";
    static constexpr const char* kUuid45 = "tovak-window-control@tovak.org";

    // The extension on the session bus, enabled first where it is installed but off (for the next
    // login where this Shell started before it was installed); null when it does not answer, with why
    // in state. Blocks for a few round trips, and up to 3 s while a freshly enabled extension starts.
    static std::shared_ptr<GnomeWindowControl> connect(GnomeExtensionState* state = nullptr);
    static std::shared_ptr<GnomeWindowControl> connect(const QDBusConnection& bus,
                                                       GnomeExtensionState* state = nullptr);
    // The status line the user is shown once for a state; empty for ready and notGnome.
    static std::string statusLine(GnomeExtensionState state);

    explicit GnomeWindowControl(QDBusConnection bus);

    [[nodiscard]] std::string name() const override { return "gnome"; }
    [[nodiscard]] std::optional<int> countWindowsTitled(const std::string& fileName) override;
    Outcome raiseWindowsTitled(const std::string& fileName) override;
    Outcome closeWindowsTitled(const std::string& fileName) override;
    Outcome placePanel(const std::string& panelTitle, const DesktopRect& where) override;
    [[nodiscard]] std::optional<DesktopRect> activeScreen() override;

  private:
    QDBusConnection bus_;
};

}  // namespace tovak::trigger

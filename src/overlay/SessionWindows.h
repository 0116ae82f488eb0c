#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "imaging/Geometry.h"
#include "overlay/ScreenSource.h"
#include "runtime/TaskQueue.h"
#include "trigger/WindowControl.h"

namespace tovak::overlay {

// Tovak's own windows as the session's window control sees them: which screen the user works on,
// and the panel kept above and on every desktop where the compositor ignores the toolkit's hints.
// The control is asked on the worker queue (a desktop's D-Bus service can take a few hundred
// milliseconds); answers come back on the main queue, which must be the GUI thread.
class SessionWindows final : public std::enable_shared_from_this<SessionWindows> {
  public:
    static std::shared_ptr<SessionWindows> create(std::shared_ptr<trigger::WindowControl> control,
                                                  std::shared_ptr<runtime::TaskQueue> worker,
                                                  std::shared_ptr<runtime::TaskQueue> main);

    // GUI thread: the toolkit's screen holding the centre of the screen last learnt to hold the
    // active window, else the primary screen.
    [[nodiscard]] ScreenSource activeScreen();
    // Asks the desktop again which screen the user works on, then runs `then` on the main queue.
    void refreshActiveScreen(std::function<void()> then);
    // Asks the desktop to keep the window of this exact title above, on every desktop, at frame
    // (the toolkit's logical pixels, origin at the top left of the whole desktop); then runs `then`
    // on the main queue with what came of it.
    void placePanel(const std::string& title, const imaging::Rect& frame,
                    std::function<void(trigger::WindowControl::Outcome)> then = nullptr);

  private:
    SessionWindows(std::shared_ptr<trigger::WindowControl> control, std::shared_ptr<runtime::TaskQueue> worker,
                   std::shared_ptr<runtime::TaskQueue> main);

    std::shared_ptr<trigger::WindowControl> control_;
    std::shared_ptr<runtime::TaskQueue> worker_;
    std::shared_ptr<runtime::TaskQueue> main_;
    // GUI thread only.
    std::optional<trigger::DesktopRect> active_;
};

}  // namespace tovak::overlay

#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "monitor/ports/FacePresenter.h"
#include "overlay/PiPContentView.h"
#include "overlay/ScreenSource.h"
#include "overlay/SessionWindows.h"
#include "runtime/TaskQueue.h"

namespace tovak::overlay {

// The floating picture-in-picture panel with the onlooker's face. It only does what it is asked:
// no timing and no decisions. show, hide and the window half of update run on the main queue, even
// when called there; the panel is made on first use and then kept, only ever shown and hidden.
//
// A frameless window that stays on top and has no taskbar entry (not a tool window: some window
// managers hide those while another application is active, which is exactly when the panel is
// needed), in the lower right corner of the screen the user works on. At every show it asks again
// for every desktop, and where a session's window control is given, asks the desktop itself to
// place and pin it, since compositors forget or ignore the toolkit's hints.
class PiPWindowController final : public monitor::PiPPresenter,
                                  public std::enable_shared_from_this<PiPWindowController> {
  public:
    // The panel's window title: unique and stable, the desktop's window control finds it by it.
    static constexpr const char* windowTitle = "Товак — панель";
    // The title as the window system shows it, which the desktop is asked by: Qt follows a window's own
    // title with " — " and the application's display name, when one was set and the title does not
    // already end with it.
    [[nodiscard]] static std::string shownTitle();

    // mainQueue must run its tasks on the GUI thread. With a session, its screen the user works on
    // is used rather than `screens`.
    static std::shared_ptr<PiPWindowController> create(std::shared_ptr<runtime::TaskQueue> mainQueue,
                                                       ScreenSource screens = primaryScreen(),
                                                       std::shared_ptr<SessionWindows> session = nullptr);
    ~PiPWindowController() override;
    PiPWindowController(const PiPWindowController&) = delete;
    PiPWindowController& operator=(const PiPWindowController&) = delete;

    void show() override;
    void hide() override;
    // Renders on the calling thread; only the finished picture goes to the main queue.
    void update(const imaging::PixelBufferPtr& pixelBuffer, const imaging::Rect& normalizedBox,
                imaging::Orientation orientation, double paddingFraction, double centerZoom,
                imaging::Renderer& ciContext) override;
    // GUI thread.
    void setOnClose(std::function<void()> onClose) override { onClose_ = std::move(onClose); }
    // GUI thread. Called with the box of the face in the picture when the user says it is not a
    // person; the panel then goes as if its close button had been pressed.
    void setOnIgnore(std::function<void(const imaging::Rect& box)> onIgnore) { onIgnore_ = std::move(onIgnore); }

    // GUI thread; null until the panel is first needed.
    [[nodiscard]] QWidget* panel() const { return panel_.get(); }
    [[nodiscard]] PiPContentView* content() const { return content_; }

  private:
    PiPWindowController(std::shared_ptr<runtime::TaskQueue> mainQueue, ScreenSource screens,
                        std::shared_ptr<SessionWindows> session);
    void onMain(std::function<void(PiPWindowController&)> step);
    void ensurePanel();
    // Asks the session to pin the visible panel in its corner, again a little later while the
    // desktop does not see it yet, at most triesLeft times; moves it itself where the desktop cannot.
    void pinPanel(int triesLeft);
    using Outcome = trigger::WindowControl::Outcome;
    void pinned(Outcome outcome, int triesLeft);
    static constexpr int pinTries = 20;
    static constexpr int pinRetryMilliseconds = 100;
    // The panel's frame in the corner of the screen the user works on, none without a screen.
    [[nodiscard]] std::optional<imaging::Rect> cornerFrame() const;
    void placeInCorner();

    std::shared_ptr<runtime::TaskQueue> main_;
    ScreenSource screens_;
    std::shared_ptr<SessionWindows> session_;
    // Everything below belongs to the GUI thread.
    std::function<void()> onClose_;
    std::function<void(const imaging::Rect&)> onIgnore_;
    // The face box of the picture on show, none before the first.
    std::optional<imaging::Rect> shownBox_;
    std::unique_ptr<QWidget> panel_;
    PiPContentView* content_ = nullptr;  // owned by panel_
};

}  // namespace tovak::overlay

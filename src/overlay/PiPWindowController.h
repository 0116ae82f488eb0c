#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "monitor/ports/FacePresenter.h"
#include "overlay/PiPContentView.h"
#include "overlay/ScreenSource.h"
#include "runtime/TaskQueue.h"

namespace tovak::overlay {

// The floating picture-in-picture panel with the onlooker's face. It only does what it is asked:
// no timing and no decisions. show, hide and the window half of update run on the main queue, even
// when called there; the panel is made on first use and then kept, only ever shown and hidden.
class PiPWindowController final : public monitor::PiPPresenter,
                                  public std::enable_shared_from_this<PiPWindowController> {
  public:
    // mainQueue must run its tasks on the GUI thread.
    static std::shared_ptr<PiPWindowController> create(std::shared_ptr<runtime::TaskQueue> mainQueue,
                                                       ScreenSource screens = primaryScreen());
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
    PiPWindowController(std::shared_ptr<runtime::TaskQueue> mainQueue, ScreenSource screens);
    void onMain(std::function<void(PiPWindowController&)> step);
    void ensurePanel();
    void placeInCorner();

    std::shared_ptr<runtime::TaskQueue> main_;
    ScreenSource screens_;
    // Everything below belongs to the GUI thread.
    std::function<void()> onClose_;
    std::function<void(const imaging::Rect&)> onIgnore_;
    // The face box of the picture on show, none before the first.
    std::optional<imaging::Rect> shownBox_;
    std::unique_ptr<QWidget> panel_;
    PiPContentView* content_ = nullptr;  // owned by panel_
};

}  // namespace tovak::overlay

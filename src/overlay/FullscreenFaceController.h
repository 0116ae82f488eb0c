#pragma once

#include <QObject>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "monitor/ports/FacePresenter.h"
#include "overlay/FaceImageView.h"
#include "overlay/ScreenSource.h"
#include "overlay/SessionWindows.h"
#include "runtime/TaskQueue.h"

namespace tovak::overlay {

// The borderless black window that covers the screen the user works on (the primary screen when it
// is not known) with a stranger's face. Like the
// panel it only does what it is asked; the window is made on first use while there is a screen,
// then kept and only shown and hidden.
//
// The screen is read on the GUI thread only (the toolkit's screens are not thread-safe): a copy
// taken there at creation, on every show and update and on screen changes is what update uses on
// the capture queue.
class FullscreenFaceController final : public monitor::FacePresenter,
                                       public std::enable_shared_from_this<FullscreenFaceController> {
  public:
    // Call on the GUI thread; mainQueue must run its tasks there. With a session, its screen the
    // user works on is used rather than `screens`, asked again at every show.
    static std::shared_ptr<FullscreenFaceController> create(std::shared_ptr<runtime::TaskQueue> mainQueue,
                                                            ScreenSource screens = primaryScreen(),
                                                            std::shared_ptr<SessionWindows> session = nullptr);
    ~FullscreenFaceController() override;
    FullscreenFaceController(const FullscreenFaceController&) = delete;
    FullscreenFaceController& operator=(const FullscreenFaceController&) = delete;

    void show() override;
    void hide() override;
    void update(const imaging::PixelBufferPtr& pixelBuffer, const imaging::Rect& normalizedBox,
                imaging::Orientation orientation, double paddingFraction, double centerZoom,
                imaging::Renderer& ciContext) override;

    // GUI thread: told of each picture the close-up shows, after it is shown (the journal keeps the
    // last one of a visit). The bitmap is shared, not copied.
    void setOnPicture(std::function<void(const imaging::Image&)> onPicture) { onPicture_ = std::move(onPicture); }

    // GUI thread; null until a window was needed while there was a screen.
    [[nodiscard]] QWidget* window() const { return window_.get(); }
    [[nodiscard]] FaceImageView* imageView() const { return imageView_; }

  private:
    FullscreenFaceController(std::shared_ptr<runtime::TaskQueue> mainQueue, ScreenSource screens,
                             std::shared_ptr<SessionWindows> session);
    void onMain(std::function<void(FullscreenFaceController&)> step);
    // GUI thread: asks the screen source and stores the answer for update.
    std::optional<ScreenGeometry> refreshScreen();
    void watchScreens();
    void ensureWindow(const ScreenGeometry& screen);

    std::shared_ptr<runtime::TaskQueue> main_;
    ScreenSource screens_;
    std::shared_ptr<SessionWindows> session_;
    mutable std::mutex screenMutex_;
    std::optional<ScreenGeometry> lastScreen_;  // guarded by screenMutex_
    // GUI thread only.
    std::unique_ptr<QObject> screenWatch_;
    std::unique_ptr<QWidget> window_;
    FaceImageView* imageView_ = nullptr;  // owned by window_
    std::function<void(const imaging::Image&)> onPicture_;
};

}  // namespace tovak::overlay

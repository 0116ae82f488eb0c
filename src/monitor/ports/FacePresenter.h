#pragma once

#include <functional>

#include "imaging/Geometry.h"
#include "imaging/Orientation.h"
#include "imaging/PixelBuffer.h"
#include "imaging/Renderer.h"

namespace tovak::monitor {

// A window that shows a crop of one face: the floating panel or the full-screen close-up.
// show and hide may be called from any thread and return at once, doing their work on the main
// thread. update renders on the calling thread and hands only the finished picture to the main
// thread; it never shows or hides the window.
class FacePresenter {
  public:
    virtual ~FacePresenter() = default;
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void update(const imaging::PixelBufferPtr& pixelBuffer, const imaging::Rect& normalizedBox,
                        imaging::Orientation orientation, double paddingFraction, double centerZoom,
                        imaging::Renderer& ciContext) = 0;
};

// The picture-in-picture panel; onClose is called when the user presses its close button.
class PiPPresenter : public FacePresenter {
  public:
    virtual void setOnClose(std::function<void()> onClose) = 0;
};

}  // namespace tovak::monitor

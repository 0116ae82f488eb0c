#pragma once

#include <optional>

#include "imaging/Geometry.h"
#include "imaging/Orientation.h"
#include "imaging/PixelBuffer.h"
#include "imaging/Renderer.h"

// Turns one camera frame and one face box into a display-ready picture of a fixed size: the padded
// face region, optionally zoomed about its centre, fitted uniformly into the target and centred on
// black. Stateless; every function is safe on any thread.
//
// All rectangles are real-valued, in a space whose origin is the lower-left corner with y growing
// upwards. The image steps only describe the picture; pixels are touched once, in render().
namespace tovak::overlay::FaceCropRender {

// An image not yet rendered: which part of the frame it shows and where that part lies in the
// image's own space. A crop keeps positions; a scale or translation moves the extent.
struct LazyImage {
    imaging::PixelBufferPtr frame;
    // The image's extent in its own space; width or height <= 0 means there is nothing to draw.
    imaging::Rect extent;
    // The part of the frame that is shown, in frame image space.
    imaging::Rect visible;
    // Image space = frame image space * scale + offset.
    double scale = 1.0;
    double offsetX = 0.0;
    double offsetY = 0.0;
    // Whether the parts of the extent outside the picture are opaque black (else they are empty).
    bool onBlack = false;

    // Where the visible part of the frame lies in the image's space.
    [[nodiscard]] imaging::Rect placedPicture() const;
};

// Pads a normalised box by a fraction of its own size. Only the origin is clamped (at 0) and only
// the size (at 1); the far edges are cut later against the frame.
[[nodiscard]] imaging::Rect expandNormalizedBox(const imaging::Rect& box, double padding);

// The rectangle in frame image space that a box normalised to the oriented (analysed) image covers.
// Quarter-turn orientations swap the box's axes; 6 and 7 also run the box's y against the frame's x.
[[nodiscard]] imaging::Rect pixelRect(const imaging::Rect& forNormalizedVisionBox, const imaging::Rect& imageExtent,
                                      imaging::Orientation orientation);

// The common part of two rectangles; an empty rectangle (0, 0, 0, 0) when they do not meet. Edges
// that only touch give a rectangle of zero width or height.
[[nodiscard]] imaging::Rect intersection(const imaging::Rect& a, const imaging::Rect& b);

// The whole frame as an image with extent (0, 0, W, H).
[[nodiscard]] LazyImage imageOfFrame(const imaging::PixelBufferPtr& frame);

// The part of the image inside rect, left in place.
[[nodiscard]] LazyImage cropped(const LazyImage& image, const imaging::Rect& rect);

// The central 1/zoom of each side, kept in place; unchanged for zoom <= 1.001 or an extent of 2 px
// or less on either axis.
[[nodiscard]] LazyImage centerCropZoom(const LazyImage& image, double zoom);

// The image scaled uniformly to fit the target, centred on opaque black; the result's extent is
// (0, 0, target). An empty image is returned unchanged.
[[nodiscard]] LazyImage aspectFit(const LazyImage& image, const imaging::Size& to);

// Renders the image's extent (which must start at the origin) into a bitmap, resampling the frame
// once. None for an empty extent or when the renderer fails.
[[nodiscard]] std::optional<imaging::PixelBufferPtr> render(const LazyImage& image, imaging::Renderer& ciContext);

// The face picture of targetPixelSize pixels, to be drawn at logicalSize points; none when the
// frame, the crop or the render is unusable.
[[nodiscard]] std::optional<imaging::Image> fittedImage(const imaging::PixelBufferPtr& pixelBuffer,
                                                        const imaging::Rect& normalizedBox,
                                                        imaging::Orientation orientation, double paddingFraction,
                                                        double centerZoom, const imaging::Size& targetPixelSize,
                                                        const imaging::Size& logicalSize, imaging::Renderer& ciContext);

}  // namespace tovak::overlay::FaceCropRender

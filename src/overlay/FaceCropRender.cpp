#include "overlay/FaceCropRender.h"

#include <algorithm>
#include <cmath>

namespace tovak::overlay::FaceCropRender {

using imaging::Rect;
using imaging::Size;

namespace {

// Past this a bitmap is certainly a caller's mistake, and allocating it could take the process down.
constexpr double maxBitmapSide = 16384.0;

bool isEmpty(const Rect& r) {
    return !(r.width > 0) || !(r.height > 0);
}

LazyImage scaledBy(LazyImage image, double k) {
    image.extent = {image.extent.x * k, image.extent.y * k, image.extent.width * k, image.extent.height * k};
    image.scale *= k;
    image.offsetX *= k;
    image.offsetY *= k;
    return image;
}

LazyImage translatedBy(LazyImage image, double dx, double dy) {
    image.extent.x += dx;
    image.extent.y += dy;
    image.offsetX += dx;
    image.offsetY += dy;
    return image;
}

Rect unionOf(const Rect& a, const Rect& b) {
    if (isEmpty(a)) {
        return b;
    }
    if (isEmpty(b)) {
        return a;
    }
    const double x0 = std::min(a.x, b.x);
    const double y0 = std::min(a.y, b.y);
    return {x0, y0, std::max(a.maxX(), b.maxX()) - x0, std::max(a.maxY(), b.maxY()) - y0};
}

}  // namespace

Rect LazyImage::placedPicture() const {
    return {visible.x * scale + offsetX, visible.y * scale + offsetY, visible.width * scale, visible.height * scale};
}

Rect expandNormalizedBox(const Rect& box, double padding) {
    const double px = padding * box.width;
    const double py = padding * box.height;
    const double x = box.x - px;
    const double y = box.y - py;
    const double w = box.width + 2 * px;
    const double h = box.height + 2 * py;
    // A value that is not a number fails every comparison, so it falls to the clamp.
    return {x >= 0 ? x : 0.0, y >= 0 ? y : 0.0, std::isnan(w) ? 1.0 : std::min(w, 1.0),
            std::isnan(h) ? 1.0 : std::min(h, 1.0)};
}

Rect pixelRect(const Rect& box, const Rect& e, imaging::Orientation orientation) {
    switch (orientation) {
        case imaging::Orientation::right:
        case imaging::Orientation::rightMirrored:
            return {e.x + e.width * (1 - box.y - box.height), e.y + e.height * box.x, e.width * box.height,
                    e.height * box.width};
        case imaging::Orientation::leftMirrored:
        case imaging::Orientation::left:
            return {e.x + e.width * box.y, e.y + e.height * box.x, e.width * box.height, e.height * box.width};
        default:
            return {e.x + e.width * box.x, e.y + e.height * box.y, e.width * box.width, e.height * box.height};
    }
}

Rect intersection(const Rect& a, const Rect& b) {
    for (const double v : {a.x, a.y, a.width, a.height, b.x, b.y, b.width, b.height}) {
        if (std::isnan(v)) {
            return {};
        }
    }
    const double x0 = std::max(a.x, b.x);
    const double y0 = std::max(a.y, b.y);
    const double x1 = std::min(a.maxX(), b.maxX());
    const double y1 = std::min(a.maxY(), b.maxY());
    if (!(x1 >= x0) || !(y1 >= y0)) {
        return {};
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

LazyImage imageOfFrame(const imaging::PixelBufferPtr& frame) {
    LazyImage image;
    image.frame = frame;
    if (frame) {
        image.extent = {0, 0, static_cast<double>(frame->width()), static_cast<double>(frame->height())};
        image.visible = image.extent;
    }
    return image;
}

LazyImage cropped(const LazyImage& image, const Rect& rect) {
    LazyImage out = image;
    out.extent = intersection(image.extent, rect);
    const Rect inFrame{(rect.x - image.offsetX) / image.scale, (rect.y - image.offsetY) / image.scale,
                       rect.width / image.scale, rect.height / image.scale};
    out.visible = isEmpty(out.extent) ? Rect{} : intersection(image.visible, inFrame);
    return out;
}

LazyImage centerCropZoom(const LazyImage& image, double zoom) {
    if (!(zoom > 1.001)) {
        return image;
    }
    const Rect& e = image.extent;
    if (e.width <= 2 || e.height <= 2) {
        return image;
    }
    const double s = 1.0 / zoom;
    const double cw = s * e.width;
    const double ch = s * e.height;
    const double midX = e.x + e.width * 0.5;
    const double midY = e.y + e.height * 0.5;
    return cropped(image, {midX - cw * 0.5, midY - ch * 0.5, cw, ch});
}

LazyImage aspectFit(const LazyImage& image, const Size& to) {
    const Rect& e = image.extent;
    if (e.width <= 0 || e.height <= 0) {
        return image;
    }
    const double sx = to.width / e.width;
    const double sy = to.height / e.height;
    const double s = sy < sx ? sy : sx;
    const LazyImage scaled = scaledBy(image, s);
    const Rect& e2 = scaled.extent;
    LazyImage moved = translatedBy(scaled, (to.width - e2.width) * 0.5 - e2.x, (to.height - e2.height) * 0.5 - e2.y);
    const Rect target{0, 0, to.width, to.height};
    const Rect black = isEmpty(target) ? Rect{} : target;
    moved.extent = unionOf(moved.extent, black);
    moved.onBlack = true;
    return cropped(moved, target);
}

std::optional<imaging::PixelBufferPtr> render(const LazyImage& image, imaging::Renderer& ciContext) {
    const Rect& e = image.extent;
    if (!image.frame || isEmpty(e) || e.width > maxBitmapSide || e.height > maxBitmapSide) {
        return std::nullopt;
    }
    const int width = std::max(1, static_cast<int>(std::ceil(e.width)));
    const int height = std::max(1, static_cast<int>(std::ceil(e.height)));
    const Rect& v = image.visible;
    const Rect p = image.placedPicture();
    // Bitmaps run top-down, so both rectangles flip their y axis here and nowhere else.
    const cv::Rect2d source{v.x, image.frame->height() - v.maxY(), v.width, v.height};
    const cv::Rect2d placement{p.x - e.x, e.maxY() - p.maxY(), p.width, p.height};
    return ciContext.renderRegion(image.frame->mat(), source, cv::Size(width, height), placement);
}

std::optional<imaging::Image> fittedImage(const imaging::PixelBufferPtr& pixelBuffer, const Rect& normalizedBox,
                                          imaging::Orientation orientation, double paddingFraction, double centerZoom,
                                          const Size& targetPixelSize, const Size& logicalSize,
                                          imaging::Renderer& ciContext) {
    LazyImage image = imageOfFrame(pixelBuffer);
    const Rect frameExtent = image.extent;
    if (frameExtent.width <= 1 || frameExtent.height <= 1) {
        return std::nullopt;
    }
    const Rect padded = expandNormalizedBox(normalizedBox, paddingFraction);
    const Rect r = pixelRect(padded, frameExtent, orientation);
    // Checked on the crop itself, before it meets the frame.
    if (!(r.width > 4) || !(r.height > 4)) {
        return std::nullopt;
    }
    image = cropped(image, r);
    if (centerZoom > 1.001) {
        image = centerCropZoom(image, centerZoom);
    }
    image = aspectFit(image, targetPixelSize);
    auto bitmap = render(image, ciContext);
    if (!bitmap) {
        return std::nullopt;
    }
    return imaging::Image{std::move(*bitmap), logicalSize.width, logicalSize.height};
}

}  // namespace tovak::overlay::FaceCropRender

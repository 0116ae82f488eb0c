#include "overlay/FaceImageView.h"

#include <QPainter>
#include <QPainterPath>

namespace tovak::overlay {

QImage toQImage(const imaging::Image& picture) {
    if (!picture.bitmap || picture.bitmap->width() < 1 || picture.bitmap->height() < 1) {
        return {};
    }
    const imaging::PixelBuffer& bitmap = *picture.bitmap;
    auto* keeper = new imaging::PixelBufferPtr(picture.bitmap);
    // BGRA bytes are 0xAARRGGBB words on a little-endian machine; every pixel is opaque, so the
    // premultiplied format (the fastest to draw) holds the same values.
    QImage image(
        bitmap.data(), bitmap.width(), bitmap.height(), static_cast<qsizetype>(bitmap.bytesPerRow()),
        QImage::Format_ARGB32_Premultiplied, [](void* info) { delete static_cast<imaging::PixelBufferPtr*>(info); },
        keeper);
    if (picture.width > 0) {
        image.setDevicePixelRatio(bitmap.width() / picture.width);
    }
    return image;
}

FaceImageView::FaceImageView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("imageView"));
}

void FaceImageView::setImage(const imaging::Image& picture) {
    image_ = toQImage(picture);
    update();
}

void FaceImageView::setBorder(double width, const QColor& colour) {
    borderWidth_ = width;
    borderColour_ = colour;
    update();
}

void FaceImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, cornerRadius_ > 0);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF bounds(rect());
    QPainterPath clip;
    clip.addRoundedRect(bounds, cornerRadius_, cornerRadius_);
    if (!image_.isNull()) {
        painter.save();
        painter.setClipPath(clip);
        painter.drawImage(bounds, image_);
        painter.restore();
    }
    if (borderWidth_ > 0) {
        // The stroke is centred on its path, so inset by half a width to keep it inside the view.
        const double inset = borderWidth_ / 2;
        painter.setPen(QPen(borderColour_, borderWidth_));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), cornerRadius_, cornerRadius_);
    }
}

}  // namespace tovak::overlay

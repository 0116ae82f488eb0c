#include "app/CameraPreviewView.h"

#include <QContextMenuEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include "app/AdminLocks.h"
#include "app/Icons.h"

namespace tovak::app {

QImage toQImage(const imaging::Image& image) {
    if (!image.bitmap) {
        return {};
    }
    // BGRA bytes are Qt's ARGB32 on a little-endian machine.
    auto* keep = new imaging::PixelBufferPtr(image.bitmap);
    return QImage(
        image.bitmap->data(), image.bitmap->width(), image.bitmap->height(),
        static_cast<qsizetype>(image.bitmap->bytesPerRow()), QImage::Format_ARGB32,
        [](void* info) { delete static_cast<imaging::PixelBufferPtr*>(info); }, keep);
}

CameraPreviewView::CameraPreviewView(monitor::PrivacyMonitor& monitor, QWidget* parent)
    : QWidget(parent), monitor_(monitor) {
    setObjectName("cameraPreview");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMaximumSize(preferredWidth, preferredHeight);
    // Observers hear of a change before it is made, so the view reads the new values a turn later.
    auto later = [this](const auto&) {
        if (!refreshQueued_) {
            refreshQueued_ = true;
            QMetaObject::invokeMethod(this, &CameraPreviewView::refresh, Qt::QueuedConnection);
        }
    };
    imageToken_ = monitor_.previewImage.observe(later);
    itemsToken_ = monitor_.previewFaceRects.observe(later);
    ignoredToken_ = monitor_.ignoredFaces.observe(later);
    refresh();
}

CameraPreviewView::~CameraPreviewView() {
    monitor_.setPreviewWanted(false);
    monitor_.previewImage.removeObserver(imageToken_);
    monitor_.previewFaceRects.removeObserver(itemsToken_);
    monitor_.ignoredFaces.removeObserver(ignoredToken_);
}

void CameraPreviewView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    monitor_.setPreviewWanted(true);
}

void CameraPreviewView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    monitor_.setPreviewWanted(false);
}

void CameraPreviewView::refresh() {
    refreshQueued_ = false;
    const auto& image = monitor_.previewImage.get();
    image_ = image ? toQImage(*image) : QImage();
    items_ = monitor_.previewFaceRects.get();
    ignored_ = monitor_.ignoredFaces.get();
    update();
}

QColor CameraPreviewView::primaryColour() {
    return QColor(52, 199, 89);
}
QColor CameraPreviewView::otherColour() {
    return QColor(255, 149, 0);
}

QColor CameraPreviewView::ignoredColour() {
    return QColor(142, 142, 147);
}

std::unique_ptr<QMenu> CameraPreviewView::contextMenuAt(QPointF pos) {
    auto menu = std::make_unique<QMenu>(this);
    // The outline drawn last lies on top, so it is the one under the pointer.
    const QRectF picture = pictureRect();
    for (auto item = items_.rbegin(); !image_.isNull() && item != items_.rend(); ++item) {
        if (outlineRect(item->rect, picture.size()).translated(picture.topLeft()).contains(pos)) {
            // Marking the user's own face would blind the guard to the user.
            if (!item->isPrimary) {
                QAction* mark = menu->addAction(QStringLiteral("Не замечать это лицо"), this,
                                                [this, box = item->rect] { monitor_.ignoreFace(box); });
                if (!markingAllowed_) {
                    menu->setToolTipsVisible(true);
                    showSetByAdministrator(mark);
                }
            }
            break;
        }
    }
    QAction* forget =
        menu->addAction(QStringLiteral("Снова замечать все лица"), this, [this] { monitor_.setIgnoredFaces({}); });
    forget->setEnabled(!ignored_.empty());
    return menu;
}

void CameraPreviewView::contextMenuEvent(QContextMenuEvent* event) {
    contextMenuAt(event->pos())->exec(event->globalPos());
}

QRectF CameraPreviewView::outlineRect(const imaging::Rect& r, QSizeF box) {
    return {r.x * box.width(), (1.0 - r.y - r.height) * box.height(), r.width * box.width(), r.height * box.height()};
}

QRectF CameraPreviewView::fittedRect(QSizeF imageSize, QSizeF box) {
    if (imageSize.isEmpty() || box.isEmpty()) {
        return {};
    }
    const QSizeF fitted = imageSize.scaled(box, Qt::KeepAspectRatio);
    return {(box.width() - fitted.width()) / 2, (box.height() - fitted.height()) / 2, fitted.width(), fitted.height()};
}

QRectF CameraPreviewView::pictureRect() const {
    return fittedRect(image_.isNull() ? QSizeF(4, 3) : QSizeF(image_.size()), size());
}

void CameraPreviewView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF picture = pictureRect();
    const QSizeF area = picture.size();

    if (image_.isNull()) {
        // Placeholder: a 4:3 rounded rectangle with a crossed-out camera.
        const QRectF frame = picture;
        QColor fill = palette().color(QPalette::Mid);
        fill.setAlphaF(0.35F);
        QPainterPath path;
        path.addRoundedRect(frame, cornerRadius, cornerRadius);
        painter.fillPath(path, fill);
        const QRectF iconRect(frame.center() - QPointF(18, 18), QSizeF(36, 36));
        icon(IconName::cameraOff).paint(&painter, iconRect.toRect(), Qt::AlignCenter, QIcon::Disabled);
        return;
    }

    const QRectF box = rect();
    QPainterPath clip;
    clip.addRoundedRect(box, cornerRadius, cornerRadius);
    painter.save();
    painter.setClipPath(clip);
    painter.fillRect(box, QColor(0, 0, 0, 51));
    // Nearest-neighbour scaling: no smoothing between pixels.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(picture, image_);
    painter.restore();

    // The outlines lie on the faces of the fitted picture, and are not clipped, so one at the edge is
    // drawn whole. Marked regions go beneath the faces: a face outlined over one did not match it
    // and still counts.
    painter.translate(picture.topLeft());
    QPen dashed(ignoredColour(), outlineWidth, Qt::DashLine, Qt::FlatCap, Qt::MiterJoin);
    painter.setPen(dashed);
    painter.setBrush(Qt::NoBrush);
    for (const auto& region : ignored_) {
        painter.drawRect(outlineRect(region, area));
    }
    for (const auto& item : items_) {
        QPen pen(item.isPrimary ? primaryColour() : otherColour(), outlineWidth, Qt::SolidLine, Qt::FlatCap,
                 Qt::MiterJoin);
        pen.setMiterLimit(10);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(outlineRect(item.rect, area));
    }
}

}  // namespace tovak::app

#pragma once

#include <QImage>
#include <QMenu>
#include <QRectF>
#include <QWidget>
#include <memory>
#include <vector>

#include "monitor/FaceObservation.h"
#include "monitor/PrivacyMonitor.h"

namespace tovak::app {

// The live camera picture with an outline over each face the monitor works with: green for the
// user's, orange for another. A grey placeholder with a crossed-out camera while there is no picture.
// The view is the box the picture is fitted into, at most 480 x 360; the picture keeps its
// proportions, centred, on a dark ground where it leaves the box uncovered.
class CameraPreviewView final : public QWidget {
    Q_OBJECT

  public:
    // The largest box, which the window asks for at first.
    static constexpr int preferredWidth = 480;
    static constexpr int preferredHeight = 360;
    static constexpr double cornerRadius = 10.0;
    static constexpr double outlineWidth = 2.0;

    explicit CameraPreviewView(monitor::PrivacyMonitor& monitor, QWidget* parent = nullptr);
    ~CameraPreviewView() override;

    // Where the administrator forbids marked faces, the menu's entry that marks one is greyed out.
    void setMarkingAllowed(bool allowed) { markingAllowed_ = allowed; }

    // Where a face's normalised box (origin lower left) is outlined in a picture of the given size
    // (origin top left). Nothing is clamped.
    [[nodiscard]] static QRectF outlineRect(const imaging::Rect& normalized, QSizeF box);
    // The rectangle an image of imageSize takes when fitted, aspect kept, centred, into box.
    [[nodiscard]] static QRectF fittedRect(QSizeF imageSize, QSizeF box);

    static QColor primaryColour();
    static QColor otherColour();
    // Regions of faces marked as scenery: dashed, in this grey.
    static QColor ignoredColour();

    // The context menu for a click at pos: "Не замечать это лицо" over the outline of a face other
    // than the user's own, and "Снова замечать все лица", enabled while any face is marked.
    [[nodiscard]] std::unique_ptr<QMenu> contextMenuAt(QPointF pos);

    [[nodiscard]] bool showsPlaceholder() const { return image_.isNull(); }
    [[nodiscard]] QSize sizeHint() const override { return {preferredWidth, preferredHeight}; }
    // Where the picture (or the 4:3 placeholder) is drawn: fitted into the box, centred.
    [[nodiscard]] QRectF pictureRect() const;

    // Reads the monitor's current picture and outlines and repaints.
    void refresh();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // The monitor renders a preview only while this view can be seen.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    monitor::PrivacyMonitor& monitor_;
    QImage image_;
    std::vector<monitor::PreviewFaceItem> items_;
    std::vector<imaging::Rect> ignored_;
    runtime::Published<std::optional<imaging::Image>>::Token imageToken_ = 0;
    runtime::Published<std::vector<monitor::PreviewFaceItem>>::Token itemsToken_ = 0;
    runtime::Published<std::vector<imaging::Rect>>::Token ignoredToken_ = 0;
    bool refreshQueued_ = false;
    bool markingAllowed_ = true;
};

// A QImage that shares the bitmap's memory and keeps it alive.
[[nodiscard]] QImage toQImage(const imaging::Image& image);

}  // namespace tovak::app

#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include "imaging/PixelBuffer.h"

namespace tovak::overlay {

// Shows one face picture stretched over the whole view on both axes, optionally with rounded
// corners and a thin border. Mouse events pass through to the parent, which may move the window.
class FaceImageView final : public QWidget {
  public:
    explicit FaceImageView(QWidget* parent = nullptr);

    // GUI thread. The picture's bitmap is shared, not copied.
    void setImage(const imaging::Image& picture);
    [[nodiscard]] const QImage& image() const { return image_; }

    void setCornerRadius(double radius) { cornerRadius_ = radius; }
    void setBorder(double width, const QColor& colour);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage image_;
    double cornerRadius_ = 0;
    double borderWidth_ = 0;
    QColor borderColour_;
};

// A view of the bitmap's pixels that keeps the bitmap alive; its device pixel ratio makes it draw at
// the picture's logical size.
[[nodiscard]] QImage toQImage(const imaging::Image& picture);

}  // namespace tovak::overlay

#pragma once

#include <QMenu>
#include <QPoint>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "overlay/FaceImageView.h"

namespace tovak::overlay {

// The panel's content: the face picture with rounded corners and a border, and a close button in
// the top right corner. Dragging the picture moves the whole panel.
class PiPContentView final : public QWidget {
  public:
    explicit PiPContentView(QWidget* parent = nullptr);

    static constexpr int closeButtonSize = 26;
    static constexpr int closeButtonInset = 4;
    static constexpr double cornerRadius = 8;

    FaceImageView* imageView() const { return imageView_; }
    QToolButton* closeButton() const { return closeButton_; }

    // Called by closeTapped; does nothing until set. GUI thread.
    std::function<void()> onClose = [] {};

    // The close button's action: only reports the click, hides nothing itself.
    void closeTapped();

    // "Это не человек — не замечать": the face shown is scenery. GUI thread; does nothing until set.
    std::function<void()> onIgnore = [] {};
    [[nodiscard]] std::unique_ptr<QMenu> contextMenu();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void layoutChildren();

    FaceImageView* imageView_;
    QToolButton* closeButton_;
    // Where in the window the drag grabbed it, while the toolkit cannot move the window itself.
    std::optional<QPoint> dragOffset_;
};

}  // namespace tovak::overlay

#include "overlay/PiPContentView.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QWindow>

namespace tovak::overlay {

PiPContentView::PiPContentView(QWidget* parent)
    : QWidget(parent), imageView_(new FaceImageView(this)), closeButton_(new QToolButton(this)) {
    imageView_->setCornerRadius(cornerRadius);
    // The toolkit has no separator colour; the palette's mid tone is its closest kin.
    imageView_->setBorder(1, palette().color(QPalette::Mid));

    closeButton_->setObjectName(QStringLiteral("closeButton"));
    closeButton_->setText(QStringLiteral("\u00D7"));
    QFont font = closeButton_->font();
    font.setPointSize(16);
    font.setBold(true);
    closeButton_->setFont(font);
    closeButton_->setAutoRaise(true);
    closeButton_->setFocusPolicy(Qt::NoFocus);
    // The picture is often dark (a face, black bars), so the mark is light on a faint dark disc.
    closeButton_->setStyleSheet(
        QStringLiteral("QToolButton { border: none; border-radius: 13px; background: rgba(0, 0, 0, 90); color: white; }"
                       "QToolButton:hover { background: rgba(0, 0, 0, 150); }"));
    closeButton_->setToolTip(QStringLiteral("Закрыть окно"));
    connect(closeButton_, &QToolButton::clicked, this, [this] { closeTapped(); });
    // Created after the picture, so the button lies above it.
    closeButton_->raise();
    layoutChildren();
}

void PiPContentView::closeTapped() {
    onClose();
}

std::unique_ptr<QMenu> PiPContentView::contextMenu() {
    auto menu = std::make_unique<QMenu>(this);
    menu->addAction(QStringLiteral("Это не человек — не замечать"), this, [this] { onIgnore(); });
    return menu;
}

void PiPContentView::contextMenuEvent(QContextMenuEvent* event) {
    contextMenu()->exec(event->globalPos());
}

void PiPContentView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutChildren();
}

void PiPContentView::layoutChildren() {
    imageView_->setGeometry(rect());
    closeButton_->setGeometry(width() - closeButtonSize - closeButtonInset, closeButtonInset, closeButtonSize,
                              closeButtonSize);
}

void PiPContentView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    QWidget* panel = window();
    // Let the window manager move the window where it can; otherwise follow the mouse here.
    if (panel->windowHandle() != nullptr && panel->windowHandle()->startSystemMove()) {
        dragOffset_.reset();
    } else {
        dragOffset_ = event->globalPosition().toPoint() - panel->pos();
    }
    event->accept();
}

void PiPContentView::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset_ && (event->buttons() & Qt::LeftButton)) {
        window()->move(event->globalPosition().toPoint() - *dragOffset_);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void PiPContentView::mouseReleaseEvent(QMouseEvent* event) {
    dragOffset_.reset();
    QWidget::mouseReleaseEvent(event);
}

}  // namespace tovak::overlay

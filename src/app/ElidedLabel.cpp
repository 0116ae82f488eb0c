#include "app/ElidedLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

namespace tovak::app {

ElidedLabel::ElidedLabel(Qt::TextElideMode elideMode, double minimumScale, QWidget* parent)
    : QWidget(parent), elideMode_(elideMode), minimumScale_(minimumScale) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    setToolTip(QString());
    updateGeometry();
    update();
}

QFont ElidedLabel::fittedFont() const {
    QFont font = this->font();
    const double base = font.pointSizeF() > 0 ? font.pointSizeF() : 9.0;
    // Shrink in small steps until the text fits or the smallest allowed size is reached.
    for (double scale = 1.0; scale >= minimumScale_ - 1e-9; scale -= 0.05) {
        font.setPointSizeF(base * std::max(scale, minimumScale_));
        if (QFontMetricsF(font).horizontalAdvance(text_) <= width()) {
            return font;
        }
    }
    font.setPointSizeF(base * minimumScale_);
    return font;
}

QString ElidedLabel::shownText() const {
    return QFontMetrics(fittedFont()).elidedText(text_, elideMode_, width());
}

double ElidedLabel::shownPointSize() const {
    return fittedFont().pointSizeF();
}

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text_) + 1, metrics.height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, QFontMetrics(font()).height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFont font = fittedFont();
    painter.setFont(font);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft,
                     QFontMetrics(font).elidedText(text_, elideMode_, width()));
}

}  // namespace tovak::app

#pragma once

#include <QLabel>
#include <QString>

namespace tovak::app {

// One line of text that never wraps: when it does not fit, its font first shrinks down to
// minimumScale of its size, then the text is cut with an ellipsis where elideMode says.
class ElidedLabel final : public QWidget {
    Q_OBJECT

  public:
    ElidedLabel(Qt::TextElideMode elideMode, double minimumScale, QWidget* parent = nullptr);

    void setText(const QString& text);
    [[nodiscard]] const QString& text() const { return text_; }
    // What is drawn at the current width, and at which point size.
    [[nodiscard]] QString shownText() const;
    [[nodiscard]] double shownPointSize() const;

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    [[nodiscard]] QFont fittedFont() const;

    QString text_;
    Qt::TextElideMode elideMode_;
    double minimumScale_;
};

}  // namespace tovak::app

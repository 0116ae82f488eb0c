// Small top-level windows with the titles given, on whatever platform Qt is told (wayland or xcb), for
// the desktop tests to find, raise, close and place: `tovak_test_window [--frameless] [--retitle N] TITLE...`.
// With --retitle N the first window is named "0" to "N-1" before it takes its title, 200 names a frame, as
// fast as the compositor takes them. Runs until killed, or until its last window is closed.
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace {

class PlainWindow : public QRasterWindow {
  public:
    int renames = 0;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), Qt::white);
        if (renamed_ < renames) {
            title_ = renamed_ == 0 ? title() : title_;
            for (const int last = std::min(renamed_ + 200, renames); renamed_ < last; ++renamed_) {
                setTitle(QString::number(renamed_));
            }
            if (renamed_ == renames) {
                setTitle(title_);
            }
            update();
        }
    }

  private:
    int renamed_ = 0;
    QString title_;
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QStringList titles = app.arguments().mid(1);
    const bool frameless = titles.removeAll(QStringLiteral("--frameless")) > 0;
    int renames = 0;
    if (const qsizetype at = titles.indexOf(QStringLiteral("--retitle")); at >= 0 && at + 1 < titles.size()) {
        renames = titles.takeAt(at + 1).toInt();
        titles.removeAt(at);
    }
    std::vector<std::unique_ptr<PlainWindow>> windows;
    for (const QString& title : titles) {
        auto& window = windows.emplace_back(std::make_unique<PlainWindow>());
        window->setTitle(title);
        window->renames = std::exchange(renames, 0);
        if (frameless) {
            window->setFlags(window->flags() | Qt::FramelessWindowHint);
        }
        window->resize(300, 150);
        window->show();
    }
    return QGuiApplication::exec();
}

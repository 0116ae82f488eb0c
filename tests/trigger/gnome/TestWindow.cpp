// Small top-level windows with the titles given, on whatever platform Qt is told (wayland or xcb), for
// the desktop tests to find, raise, close and place: `tovak_test_window [--frameless] TITLE...`.
// Runs until killed, or until its last window is closed.
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <memory>
#include <vector>

namespace {

class PlainWindow : public QRasterWindow {
  protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRect(QPoint(), size()), Qt::white); }
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QStringList titles = app.arguments().mid(1);
    const bool frameless = titles.removeAll(QStringLiteral("--frameless")) > 0;
    std::vector<std::unique_ptr<PlainWindow>> windows;
    for (const QString& title : titles) {
        auto& window = windows.emplace_back(std::make_unique<PlainWindow>());
        window->setTitle(title);
        if (frameless) {
            window->setFlags(window->flags() | Qt::FramelessWindowHint);
        }
        window->resize(300, 150);
        window->show();
    }
    return QGuiApplication::exec();
}

// Small top-level windows with the titles given, on whatever platform Qt is told (wayland or xcb), for
// the desktop tests to find, raise, close and place: `tovak_test_window [--frameless] TITLE...`.
// With TOVAK_RETITLE=N in the environment the first window takes N other names first, 200 a frame, as fast
// as the compositor takes them. Runs until killed, or until its last window is closed.
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
        if (renames > 0) {
            for (const int last = std::max(renames - 200, 0); renames > last; --renames) {
                setTitle(QString::number(renames));
            }
            if (renames == 0) {
                setTitle(objectName());
            } else {
                update();
            }
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QStringList titles = app.arguments().mid(1);
    const bool frameless = titles.removeAll(QStringLiteral("--frameless")) > 0;
    int renames = qEnvironmentVariableIntValue("TOVAK_RETITLE");
    std::vector<std::unique_ptr<PlainWindow>> windows;
    for (const QString& title : titles) {
        auto& window = windows.emplace_back(std::make_unique<PlainWindow>());
        window->setObjectName(title);
        window->setTitle(renames > 0 ? QString::number(renames) : title);
        window->renames = std::exchange(renames, 0);
        if (frameless) {
            window->setFlags(window->flags() | Qt::FramelessWindowHint);
        }
        window->resize(300, 150);
        window->show();
    }
    return QGuiApplication::exec();
}

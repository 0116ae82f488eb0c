#include "app/Icons.h"

#include <QPainter>
#include <QPixmap>
#include <QString>
#include <utility>

// The bundled icons live in a static library, whose resources must be registered by hand.
static void registerBundledIcons() {
    Q_INIT_RESOURCE(icons);
}

namespace tovak::app {

namespace {

struct IconSource {
    const char* themeName;
    const char* bundled;
};

IconSource sourceFor(IconName name) {
    switch (name) {
        case IconName::document:
            return {"text-x-generic", ":/icons/document.svg"};
        case IconName::folder:
            return {"folder", ":/icons/folder.svg"};
        case IconName::reset:
            return {"edit-undo", ":/icons/reset.svg"};
        case IconName::away:
            return {"system-log-out", ":/icons/away.svg"};
        case IconName::back:
            return {"user-available", ":/icons/back.svg"};
        case IconName::start:
            return {"media-playback-start", ":/icons/start.svg"};
        case IconName::stop:
            return {"media-playback-stop", ":/icons/stop.svg"};
        case IconName::pause:
            return {"media-playback-pause", ":/icons/pause.svg"};
        case IconName::camera:
            return {"camera-web", ":/icons/camera.svg"};
        case IconName::cameraOff:
            return {"camera-off", ":/icons/camera-off.svg"};
        case IconName::app:
            return {"org.tovak.Tovak", ":/icons/tovak.svg"};
        // The tray's states are the program's own drawings: a theme has no icons for them.
        case IconName::trayWatching:
            return {"", ":/icons/tray-watching.svg"};
        case IconName::trayPaused:
            return {"", ":/icons/tray-paused.svg"};
        case IconName::trayStopped:
            return {"", ":/icons/tray-stopped.svg"};
    }
    return {"", ""};
}

}  // namespace

QIcon icon(IconName name) {
    static const bool registered = (registerBundledIcons(), true);
    (void)registered;
    const IconSource source = sourceFor(name);
    const QIcon bundled(QString::fromLatin1(source.bundled));
    return *source.themeName == '\0' ? bundled : QIcon::fromTheme(QString::fromLatin1(source.themeName), bundled);
}

QIcon tintedIcon(IconName name, const QColor& colour, const QColor& disabledColour) {
    const QIcon original = icon(name);
    QIcon result;
    for (const int side : {16, 18, 24, 32, 36, 48}) {
        for (const auto& [mode, fill] :
             {std::pair{QIcon::Normal, colour}, std::pair{QIcon::Disabled, disabledColour}}) {
            QPixmap pixmap = original.pixmap(side, side);
            QPainter painter(&pixmap);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), fill);
            painter.end();
            result.addPixmap(pixmap, mode);
        }
    }
    return result;
}

}  // namespace tovak::app

#include "app/Icons.h"

#include <QString>

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
        case IconName::cameraOff:
            return {"camera-off", ":/icons/camera-off.svg"};
        case IconName::app:
            return {"org.tovak.Tovak", ":/icons/tovak.svg"};
    }
    return {"", ""};
}

}  // namespace

QIcon icon(IconName name) {
    static const bool registered = (registerBundledIcons(), true);
    (void)registered;
    const IconSource source = sourceFor(name);
    return QIcon::fromTheme(QString::fromLatin1(source.themeName), QIcon(QString::fromLatin1(source.bundled)));
}

}  // namespace tovak::app

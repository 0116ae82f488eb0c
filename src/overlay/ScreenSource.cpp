#include "overlay/ScreenSource.h"

#include <QGuiApplication>
#include <QScreen>

namespace tovak::overlay {

imaging::Rect toRect(const QRect& r) {
    const QRectF f(r);
    return {f.x(), f.y(), f.width(), f.height()};
}

ScreenSource primaryScreen() {
    return []() -> std::optional<ScreenGeometry> {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr) {
            return std::nullopt;
        }
        return ScreenGeometry{toRect(screen->geometry()), toRect(screen->availableGeometry()),
                              screen->devicePixelRatio()};
    };
}

}  // namespace tovak::overlay

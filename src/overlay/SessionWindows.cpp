#include "overlay/SessionWindows.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace tovak::overlay {

std::shared_ptr<SessionWindows> SessionWindows::create(std::shared_ptr<trigger::WindowControl> control,
                                                       std::shared_ptr<runtime::TaskQueue> worker,
                                                       std::shared_ptr<runtime::TaskQueue> main) {
    return std::shared_ptr<SessionWindows>(new SessionWindows(std::move(control), std::move(worker), std::move(main)));
}

SessionWindows::SessionWindows(std::shared_ptr<trigger::WindowControl> control,
                               std::shared_ptr<runtime::TaskQueue> worker, std::shared_ptr<runtime::TaskQueue> main)
    : control_(std::move(control)), worker_(std::move(worker)), main_(std::move(main)) {}

ScreenSource SessionWindows::activeScreen() {
    return [weak = weak_from_this(), primary = primaryScreen()]() -> std::optional<ScreenGeometry> {
        const auto self = weak.lock();
        if (self && self->active_) {
            const trigger::DesktopRect& a = *self->active_;
            const QPoint centre(a.x + a.width / 2, a.y + a.height / 2);
            if (const QScreen* screen = QGuiApplication::screenAt(centre)) {
                return ScreenGeometry{toRect(screen->geometry()), toRect(screen->availableGeometry()),
                                      screen->devicePixelRatio()};
            }
        }
        return primary();
    };
}

void SessionWindows::refreshActiveScreen(std::function<void()> then) {
    worker_->async([self = shared_from_this(), then = std::move(then)]() mutable {
        std::optional<trigger::DesktopRect> active = self->control_->activeScreen();
        self->main_->async([self, active, then = std::move(then)] {
            self->active_ = active;
            if (then) {
                then();
            }
        });
    });
}

void SessionWindows::placePanel(const std::string& title, const imaging::Rect& frame,
                                std::function<void(trigger::WindowControl::Outcome)> then) {
    const trigger::DesktopRect where{static_cast<int>(std::lround(frame.x)), static_cast<int>(std::lround(frame.y)),
                                     static_cast<int>(std::lround(frame.width)),
                                     static_cast<int>(std::lround(frame.height))};
    worker_->async([control = control_, main = main_, title, where, then = std::move(then)]() mutable {
        const trigger::WindowControl::Outcome outcome = control->placePanel(title, where);
        if (then) {
            main->async([outcome, then = std::move(then)] { then(outcome); });
        }
    });
}

}  // namespace tovak::overlay

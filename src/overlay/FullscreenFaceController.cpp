#include "overlay/FullscreenFaceController.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>

#include "overlay/AllDesktops.h"
#include "overlay/FaceCropRender.h"
#include "overlay/WindowGeometry.h"

namespace tovak::overlay {

namespace {

QRect toQRect(const imaging::Rect& r) {
    return {static_cast<int>(std::lround(r.x)), static_cast<int>(std::lround(r.y)),
            static_cast<int>(std::lround(r.width)), static_cast<int>(std::lround(r.height))};
}

}  // namespace

std::shared_ptr<FullscreenFaceController> FullscreenFaceController::create(
    std::shared_ptr<runtime::TaskQueue> mainQueue, ScreenSource screens, std::shared_ptr<SessionWindows> session) {
    std::shared_ptr<FullscreenFaceController> controller(
        new FullscreenFaceController(std::move(mainQueue), std::move(screens), std::move(session)));
    controller->refreshScreen();
    controller->watchScreens();
    return controller;
}

FullscreenFaceController::FullscreenFaceController(std::shared_ptr<runtime::TaskQueue> mainQueue, ScreenSource screens,
                                                   std::shared_ptr<SessionWindows> session)
    : main_(std::move(mainQueue)),
      screens_(session ? session->activeScreen() : std::move(screens)),
      session_(std::move(session)) {}

FullscreenFaceController::~FullscreenFaceController() = default;

void FullscreenFaceController::onMain(std::function<void(FullscreenFaceController&)> step) {
    main_->async([weak = weak_from_this(), step = std::move(step)] {
        if (const auto self = weak.lock()) {
            step(*self);
        }
    });
}

std::optional<ScreenGeometry> FullscreenFaceController::refreshScreen() {
    auto screen = screens_ ? screens_() : std::nullopt;
    std::lock_guard lock(screenMutex_);
    lastScreen_ = screen;
    return screen;
}

void FullscreenFaceController::watchScreens() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr) {
        return;
    }
    screenWatch_ = std::make_unique<QObject>();
    const auto refresh = [weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->refreshScreen();
        }
    };
    const auto watch = [this, refresh](QScreen* screen) {
        if (screen != nullptr) {
            QObject::connect(screen, &QScreen::geometryChanged, screenWatch_.get(), refresh);
        }
    };
    QObject::connect(app, &QGuiApplication::primaryScreenChanged, screenWatch_.get(), [refresh, watch](QScreen* s) {
        watch(s);
        refresh();
    });
    watch(QGuiApplication::primaryScreen());
}

void FullscreenFaceController::show() {
    onMain([](FullscreenFaceController& self) {
        const auto screen = self.refreshScreen();
        if (!screen) {
            return;
        }
        self.ensureWindow(*screen);
        self.window_->setGeometry(toQRect(screen->frame));
        self.window_->show();
        // Above everything of ours, the panel included.
        self.window_->raise();
        if (!self.session_) {
            return;
        }
        self.session_->refreshActiveScreen([weak = self.weak_from_this()] {
            const auto again = weak.lock();
            const auto now = again ? again->refreshScreen() : std::nullopt;
            if (now && again->window_ && again->window_->isVisible()) {
                again->window_->setGeometry(toQRect(now->frame));
            }
        });
    });
}

void FullscreenFaceController::hide() {
    onMain([](FullscreenFaceController& self) {
        if (self.window_) {
            self.window_->hide();
        }
    });
}

void FullscreenFaceController::update(const imaging::PixelBufferPtr& pixelBuffer, const imaging::Rect& normalizedBox,
                                      imaging::Orientation orientation, double paddingFraction, double centerZoom,
                                      imaging::Renderer& ciContext) {
    std::optional<ScreenGeometry> screen;
    {
        std::lock_guard lock(screenMutex_);
        screen = lastScreen_;
    }
    if (!screen) {
        return;
    }
    const PictureSizes sizes =
        fullscreenPictureSizes({screen->frame.width, screen->frame.height}, screen->devicePixelRatio);
    auto picture = FaceCropRender::fittedImage(pixelBuffer, normalizedBox, orientation, paddingFraction, centerZoom,
                                               sizes.pixels, sizes.logical, ciContext);
    if (!picture) {
        return;
    }
    onMain([picture = std::move(*picture)](FullscreenFaceController& self) {
        const auto now = self.refreshScreen();
        if (!now) {
            return;  // no screen any more: the picture is dropped
        }
        self.ensureWindow(*now);
        self.window_->setGeometry(toQRect(now->frame));
        self.imageView_->setImage(picture);
        if (self.onPicture_) {
            self.onPicture_(picture);
        }
    });
}

void FullscreenFaceController::ensureWindow(const ScreenGeometry& screen) {
    if (window_) {
        return;
    }
    // Bypassing the window manager is how X11 puts a window above full-screen ones and docks.
    auto window = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                                         Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setObjectName(QStringLiteral("fullscreenFaceWindow"));
    window->setWindowTitle(QStringLiteral("Товак"));
    QPalette black = window->palette();
    black.setColor(QPalette::Window, Qt::black);
    window->setPalette(black);
    window->setAutoFillBackground(true);

    auto* view = new FaceImageView(window.get());
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    window->setGeometry(toQRect(screen.frame));
    requestAllDesktops(window.get());
    imageView_ = view;
    window_ = std::move(window);
}

}  // namespace tovak::overlay

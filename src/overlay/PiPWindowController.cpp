#include "overlay/PiPWindowController.h"

#include <QGuiApplication>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "overlay/AllDesktops.h"
#include "overlay/FaceCropRender.h"
#include "overlay/WindowGeometry.h"

namespace tovak::overlay {

std::shared_ptr<PiPWindowController> PiPWindowController::create(std::shared_ptr<runtime::TaskQueue> mainQueue,
                                                                 ScreenSource screens,
                                                                 std::shared_ptr<SessionWindows> session) {
    return std::shared_ptr<PiPWindowController>(
        new PiPWindowController(std::move(mainQueue), std::move(screens), std::move(session)));
}

PiPWindowController::PiPWindowController(std::shared_ptr<runtime::TaskQueue> mainQueue, ScreenSource screens,
                                         std::shared_ptr<SessionWindows> session)
    : main_(std::move(mainQueue)),
      screens_(session ? session->activeScreen() : std::move(screens)),
      session_(std::move(session)) {}

PiPWindowController::~PiPWindowController() = default;

void PiPWindowController::onMain(std::function<void(PiPWindowController&)> step) {
    main_->async([weak = weak_from_this(), step = std::move(step)] {
        if (const auto self = weak.lock()) {
            step(*self);
        }
    });
}

void PiPWindowController::show() {
    onMain([](PiPWindowController& self) {
        self.ensurePanel();
        if (!self.panel_) {
            return;
        }
        // Every show puts the panel back in the corner, wherever the user dragged it. Window
        // managers forget a hidden window's desktop and states, so they are asked for again.
        self.placeInCorner();
        requestAllDesktops(self.panel_.get());
        requestNoTaskbarEntry(self.panel_.get());
        self.panel_->show();
        self.panel_->raise();
        if (!self.session_) {
            return;
        }
        // The screen the user works on may have changed since the last show; the desktop is asked
        // to pin the panel where it ends up.
        self.session_->refreshActiveScreen([weak = self.weak_from_this()] {
            if (const auto again = weak.lock()) {
                again->pinPanel(pinTries);
            }
        });
    });
}

std::string PiPWindowController::shownTitle() {
    const QString title = QString::fromUtf8(windowTitle), name = QGuiApplication::applicationDisplayName();
    // Without a display name of its own, the application's is its name, and Qt adds nothing.
    const bool added = name != QCoreApplication::applicationName() && !title.endsWith(name);
    return (added ? title + QStringLiteral(" — ") + name : title).toStdString();
}

void PiPWindowController::pinPanel(int triesLeft) {
    const auto frame = panel_ && panel_->isVisible() ? cornerFrame() : std::nullopt;
    if (!frame) {
        return;
    }
    // The desktop moves the panel itself: a move by the toolkit now would reach it as the window's own
    // request, which a compositor may answer by centring a floating window (sway does).
    session_->placePanel(shownTitle(), *frame, [weak = weak_from_this(), triesLeft](Outcome outcome) {
        if (const auto self = weak.lock()) {
            self->pinned(outcome, triesLeft);
        }
    });
}

void PiPWindowController::pinned(Outcome outcome, int triesLeft) {
    if (!panel_ || !panel_->isVisible() || outcome == Outcome::done) {
        return;
    }
    // The compositor shows the window a moment after the toolkit asks; until then it finds none.
    if (outcome == Outcome::noWindow && triesLeft > 1) {
        QTimer::singleShot(pinRetryMilliseconds, panel_.get(), [weak = weak_from_this(), triesLeft] {
            if (const auto self = weak.lock()) {
                self->pinPanel(triesLeft - 1);
            }
        });
        return;
    }
    placeInCorner();
}

void PiPWindowController::hide() {
    onMain([](PiPWindowController& self) {
        if (self.panel_) {
            self.panel_->hide();
        }
    });
}

void PiPWindowController::update(const imaging::PixelBufferPtr& pixelBuffer, const imaging::Rect& normalizedBox,
                                 imaging::Orientation orientation, double paddingFraction, double centerZoom,
                                 imaging::Renderer& ciContext) {
    auto picture = FaceCropRender::fittedImage(pixelBuffer, normalizedBox, orientation, paddingFraction, centerZoom,
                                               pipPanelSize, pipPanelSize, ciContext);
    if (!picture) {
        return;
    }
    onMain([picture = std::move(*picture), box = normalizedBox](PiPWindowController& self) {
        self.ensurePanel();
        if (self.content_ != nullptr) {
            self.content_->imageView()->setImage(picture);
            self.shownBox_ = box;
        }
    });
}

void PiPWindowController::ensurePanel() {
    if (panel_) {
        return;
    }
    auto panel = std::make_unique<QWidget>(
        nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    panel->setAttribute(Qt::WA_ShowWithoutActivating);
    panel->setAttribute(Qt::WA_TranslucentBackground);
    panel->setWindowTitle(QString::fromUtf8(windowTitle));
    panel->setObjectName(QStringLiteral("pipPanel"));
    panel->setFixedSize(static_cast<int>(pipPanelSize.width), static_cast<int>(pipPanelSize.height));

    auto* content = new PiPContentView(panel.get());
    content->onClose = [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (self && self->onClose_) {
            self->onClose_();
        }
    };
    content->onIgnore = [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        if (self->onIgnore_ && self->shownBox_) {
            self->onIgnore_(*self->shownBox_);
        }
        if (self->onClose_) {
            self->onClose_();
        }
    };
    auto* layout = new QVBoxLayout(panel.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    content_ = content;
    panel_ = std::move(panel);
    placeInCorner();
}

std::optional<imaging::Rect> PiPWindowController::cornerFrame() const {
    const auto screen = screens_ ? screens_() : std::nullopt;
    if (!screen || !panel_) {
        return std::nullopt;
    }
    return lowerRightFrame(screen->available, pipPanelSize, pipPanelMargin, YAxis::down);
}

void PiPWindowController::placeInCorner() {
    if (const auto frame = cornerFrame()) {
        panel_->move(static_cast<int>(std::lround(frame->x)), static_cast<int>(std::lround(frame->y)));
    }
}

}  // namespace tovak::overlay

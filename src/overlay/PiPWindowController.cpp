#include "overlay/PiPWindowController.h"

#include <QVBoxLayout>
#include <cmath>

#include "overlay/AllDesktops.h"
#include "overlay/FaceCropRender.h"
#include "overlay/WindowGeometry.h"

namespace tovak::overlay {

std::shared_ptr<PiPWindowController> PiPWindowController::create(std::shared_ptr<runtime::TaskQueue> mainQueue,
                                                                 ScreenSource screens) {
    return std::shared_ptr<PiPWindowController>(new PiPWindowController(std::move(mainQueue), std::move(screens)));
}

PiPWindowController::PiPWindowController(std::shared_ptr<runtime::TaskQueue> mainQueue, ScreenSource screens)
    : main_(std::move(mainQueue)), screens_(std::move(screens)) {}

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
        // Every show puts the panel back in the corner, wherever the user dragged it.
        self.placeInCorner();
        self.panel_->show();
        self.panel_->raise();
    });
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
        nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    panel->setAttribute(Qt::WA_ShowWithoutActivating);
    panel->setAttribute(Qt::WA_TranslucentBackground);
    // Tool windows hide while another application is active unless told otherwise.
    panel->setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    panel->setWindowTitle(QStringLiteral("Товак"));
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
    requestAllDesktops(panel.get());
    content_ = content;
    panel_ = std::move(panel);
    placeInCorner();
}

void PiPWindowController::placeInCorner() {
    const auto screen = screens_ ? screens_() : std::nullopt;
    if (!screen || !panel_) {
        return;
    }
    const imaging::Rect frame = lowerRightFrame(screen->available, pipPanelSize, pipPanelMargin, YAxis::down);
    panel_->move(static_cast<int>(std::lround(frame.x)), static_cast<int>(std::lround(frame.y)));
}

}  // namespace tovak::overlay

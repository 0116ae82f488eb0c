#include "app/ContentView.h"

#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Icons.h"
#include "app/LeaveDelays.h"
#include "app/Pauses.h"

namespace tovak::app {

namespace {

QPushButton* makeButton(const QString& text, IconName iconName, const char* objectName, QWidget* parent) {
    auto* button = new QPushButton(icon(iconName), text, parent);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

void makeLarge(QPushButton* button) {
    button->setIconSize(QSize(18, 18));
    button->setMinimumHeight(34);
    QFont font = button->font();
    font.setPointSizeF(font.pointSizeF() * 1.1);
    button->setFont(font);
}

// The secondary label style, which Qt's palette lacks: between the primary text and the dimmest
// (placeholder) text, the tertiary style of the status line.
QColor secondaryText(const QPalette& palette) {
    const QColor primary = palette.color(QPalette::WindowText);
    const QColor tertiary = palette.color(QPalette::PlaceholderText);
    return QColor::fromRgbF((primary.redF() + tertiary.redF()) / 2, (primary.greenF() + tertiary.greenF()) / 2,
                            (primary.blueF() + tertiary.blueF()) / 2, (primary.alphaF() + tertiary.alphaF()) / 2);
}

QPixmap withOpacity(const QPixmap& source, double opacity) {
    QPixmap result(source.size());
    result.setDevicePixelRatio(source.devicePixelRatio());
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setOpacity(opacity);
    painter.drawPixmap(0, 0, source);
    return result;
}

const char* kProminent =
    "QPushButton { background-color: %1; color: white; border: none; border-radius: 6px; padding: 6px 14px; }"
    "QPushButton:disabled { background-color: palette(mid); color: palette(dark); }";

}  // namespace

ContentView::ContentView(monitor::PrivacyMonitor& monitor, std::function<void()> onShown, QWidget* parent)
    : QWidget(parent), monitor_(monitor), onShown_(std::move(onShown)) {
    setObjectName("contentView");
    escMonitor_ = new AwayEscMonitor(this);

    // The header stays at the top and the rows of buttons at the bottom; the preview takes what
    // the window gives between them, up to its largest box, at the column's leading edge.
    auto* column = new QVBoxLayout(this);
    column->setSpacing(14);
    column->setContentsMargins(16, 16, 16, 16);
    column->addLayout(makeHeader());
    // A line of its own under the header: the status line beside the name changes as soon as watching starts.
    desktopNotice_ = new QLabel(this);
    desktopNotice_->setObjectName("desktopNotice");
    desktopNotice_->setWordWrap(true);
    column->addWidget(desktopNotice_);
    preview_ = new CameraPreviewView(monitor_, this);
    column->addWidget(preview_, 1, Qt::AlignLeft | Qt::AlignVCenter);
    column->addLayout(makeTriggerRow());
    column->addLayout(makeLockOnLeaveRow());
    column->addLayout(makeControls());
    observeMonitor();
    rebuild();
}

// The name, then the status line pushed to the right.
QHBoxLayout* ContentView::makeHeader() {
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("Товак"), this);
    title->setObjectName("title");
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    title->setFont(titleFont);
    status_ = new ElidedLabel(Qt::ElideMiddle, 1.0, this);
    status_->setObjectName("statusLine");
    QFont small = status_->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    status_->setFont(small);
    status_->setForegroundRole(QPalette::PlaceholderText);
    header->addWidget(title);
    auto* journal = makeButton(QStringLiteral("Журнал"), IconName::document, "journalButton", this);
    journal->setFlat(true);
    connect(journal, &QPushButton::clicked, this, &ContentView::journalRequested);
    header->addWidget(journal);
    header->addSpacing(8);
    header->addStretch(1);
    header->addWidget(status_, 0, Qt::AlignVCenter);
    cameraButton_ = new QToolButton(this);
    cameraButton_->setObjectName("cameraButton");
    cameraButton_->setIcon(icon(IconName::camera));
    cameraButton_->setToolTip(QStringLiteral("Камера"));
    cameraButton_->setPopupMode(QToolButton::InstantPopup);
    cameraButton_->setAutoRaise(true);
    cameraButton_->hide();
    header->addWidget(cameraButton_, 0, Qt::AlignVCenter);
    return header;
}

// The trigger file: what is used, and the two buttons to change or reset it.
QHBoxLayout* ContentView::makeTriggerRow() {
    auto* triggerRow = new QHBoxLayout;
    triggerRow->setSpacing(8);
    auto* summaryBlock = new QWidget(this);
    summaryBlock->setObjectName("summaryBlock");
    summaryBlock->setMaximumWidth(summaryMaxWidth);
    auto* summaryLayout = new QHBoxLayout(summaryBlock);
    summaryLayout->setContentsMargins(0, 0, 0, 0);
    summaryLayout->setSpacing(6);
    auto* docIcon = new QLabel(summaryBlock);
    const QColor secondary = secondaryText(palette());
    docIcon->setPixmap(withOpacity(icon(IconName::document).pixmap(16, 16), secondary.alphaF()));
    summary_ = new ElidedLabel(Qt::ElideRight, 0.75, summaryBlock);
    summary_->setObjectName("triggerSummary");
    QFont caption = summary_->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.9);
    summary_->setFont(caption);
    QPalette summaryPalette = summary_->palette();
    summaryPalette.setColor(QPalette::WindowText, secondary);
    summary_->setPalette(summaryPalette);
    summaryLayout->addWidget(docIcon);
    summaryLayout->addWidget(summary_, 1);
    auto* pick = makeButton(QStringLiteral("Файл"), IconName::folder, "pickButton", this);
    auto* reset = makeButton(QString(), IconName::reset, "resetButton", this);
    reset->setToolTip(QStringLiteral("Триггер по умолчанию"));
    triggerRow->addWidget(summaryBlock);
    triggerRow->addSpacing(4);
    triggerRow->addStretch(1);
    triggerRow->addWidget(pick);
    triggerRow->addWidget(reset);
    connect(pick, &QPushButton::clicked, this, [this] { monitor_.pickTriggerFile(); });
    connect(reset, &QPushButton::clicked, this, [this] { monitor_.clearCustomTriggerFile(); });
    return triggerRow;
}

// The lock when the user leaves: off until ticked, then at the delay beside it.
QHBoxLayout* ContentView::makeLockOnLeaveRow() {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    lockOnLeave_ = new QCheckBox(QString::fromUtf8(kLockOnLeaveText), this);
    lockOnLeave_->setObjectName("lockOnLeave");
    leaveDelay_ = new QComboBox(this);
    leaveDelay_->setObjectName("leaveDelay");
    row->addWidget(lockOnLeave_);
    row->addWidget(leaveDelay_);
    row->addStretch(1);
    connect(lockOnLeave_, &QCheckBox::toggled, this, &ContentView::lockOnLeaveChosen);
    connect(leaveDelay_, &QComboBox::activated, this, &ContentView::lockOnLeaveChosen);
    return row;
}

void ContentView::lockOnLeaveChosen() {
    const QVariant delay = leaveDelay_->currentData();
    monitor_.setLockOnLeave(lockOnLeave_->isChecked() && delay.isValid() ? std::optional(delay.toDouble())
                                                                         : std::nullopt);
}

void ContentView::showLockOnLeave(std::optional<double> seconds) {
    const QSignalBlocker blockBox(lockOnLeave_), blockList(leaveDelay_);
    lockOnLeave_->setChecked(seconds.has_value());
    leaveDelay_->setEnabled(seconds.has_value() && !locks_.locked(monitor::PrivacyMonitor::lockOnLeaveKey));
    // Unticked, the list keeps what it showed, so that ticking again brings that delay back. Its
    // entries are made again only when they change: a rebuild must not close a list the user opened.
    const double shown = seconds.value_or(leaveDelay_->currentData().toDouble());
    const auto delays = leaveDelays(seconds);
    if (leaveDelay_->count() != static_cast<int>(delays.size()) ||
        leaveDelay_->itemData(leaveDelay_->count() - 1).toDouble() != delays.back().first) {
        leaveDelay_->clear();
        for (const auto& [delay, text] : delays) {
            leaveDelay_->addItem(text, delay);
        }
    }
    leaveDelay_->setCurrentIndex(std::max(0, leaveDelay_->findData(shown)));
}

// Away mode and the pause on the left, start and stop on the right; each calls one monitor operation.
QHBoxLayout* ContentView::makeControls() {
    auto* controls = new QHBoxLayout;
    controls->setSpacing(10);
    awayButton_ = makeButton(QString(), IconName::away, "awayButton", this);
    pauseButton_ = makeButton(QString(), IconName::pause, "pauseButton", this);
    pauseMenu_ = new QMenu(pauseButton_);
    pauseMenu_->addAction(QStringLiteral("На 15 минут"), this, [this] { monitor_.pauseFor(kShortPauseSeconds); });
    pauseMenu_->addAction(QStringLiteral("На час"), this, [this] { monitor_.pauseFor(kLongPauseSeconds); });
    startButton_ = makeButton(QStringLiteral("Старт"), IconName::start, "startButton", this);
    stopButton_ = makeButton(QStringLiteral("Стоп"), IconName::stop, "stopButton", this);
    for (auto* button : {awayButton_, pauseButton_, startButton_, stopButton_}) {
        makeLarge(button);
    }
    startButton_->setStyleSheet(QString::fromLatin1(kProminent).arg(palette().color(QPalette::Highlight).name()));
    startButton_->setIcon(tintedIcon(IconName::start, Qt::white, palette().color(QPalette::Dark)));
    controls->addWidget(awayButton_);
    controls->addWidget(pauseButton_);
    controls->addStretch(1);
    controls->addWidget(startButton_);
    controls->addWidget(stopButton_);
    // The label names the operation: "Отошёл" switches away mode on, "На месте" off.
    connect(awayButton_, &QPushButton::clicked, this, [this] { monitor_.setAwayMode(!awayShown_); });
    // Without its menu (while paused) the pause button ends the pause.
    connect(pauseButton_, &QPushButton::clicked, this, [this] {
        if (pauseButton_->menu() == nullptr) {
            monitor_.resume();
        }
    });
    connect(startButton_, &QPushButton::clicked, this, [this] { monitor_.start(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] { monitor_.stop(); });
    return controls;
}

// Observers hear of a change before it is made: rebuild a turn later, once per burst.
void ContentView::observeMonitor() {
    auto later = [this](const auto&) { scheduleRebuild(); };
    const auto watch = [&](auto& published) {
        const auto token = published.observe(later);
        unobserve_.emplace_back([&published, token] { published.removeObserver(token); });
    };
    watch(monitor_.statusLine);
    watch(monitor_.desktopNotice);
    watch(monitor_.isRunning);
    watch(monitor_.triggerFileSummary);
    watch(monitor_.awayMode);
    watch(monitor_.pausedUntil);
    watch(monitor_.lockOnLeaveSeconds);
}

ContentView::~ContentView() {
    for (auto& remove : unobserve_) {
        remove();
    }
}

void ContentView::scheduleRebuild() {
    if (!rebuildQueued_) {
        rebuildQueued_ = true;
        QMetaObject::invokeMethod(this, &ContentView::rebuild, Qt::QueuedConnection);
    }
}

void ContentView::rebuild() {
    rebuildQueued_ = false;
    status_->setText(QString::fromStdString(monitor_.statusLine.get()));
    desktopNotice_->setText(QString::fromStdString(monitor_.desktopNotice.get()));
    desktopNotice_->setVisible(!desktopNotice_->text().isEmpty());
    summary_->setText(QString::fromStdString(monitor_.triggerFileSummary.get()));
    const bool away = monitor_.awayMode.get();
    showAwayMode(away);
    const bool running = monitor_.isRunning.get();
    showRunning(running, running && monitor_.pausedUntil.get().has_value());
    showLockOnLeave(monitor_.lockOnLeaveSeconds.get());

    std::weak_ptr<monitor::PrivacyMonitor> weak = monitor_.weak_from_this();
    escMonitor_->sync(away, [weak] {
        if (auto monitor = weak.lock()) {
            monitor->setAwayMode(false);
        }
    });
}

void ContentView::setCameraMenu(QMenu* menu) {
    cameraButton_->setMenu(menu);
    cameraButton_->setVisible(menu != nullptr);
}

void ContentView::showAwayMode(bool away) {
    awayShown_ = away;
    if (away) {
        awayButton_->setText(QStringLiteral("На месте"));
        awayButton_->setIcon(tintedIcon(IconName::back, Qt::white, Qt::white));
        awayButton_->setToolTip(QString());
        awayButton_->setStyleSheet(QString::fromLatin1(kProminent).arg(QColor(255, 149, 0).name()));
    } else {
        awayButton_->setText(QStringLiteral("Отошёл"));
        awayButton_->setIcon(icon(IconName::away));
        awayButton_->setToolTip(QString::fromUtf8(awayHint));
        awayButton_->setStyleSheet(QString());
    }
}

void ContentView::setAdminLocks(AdminLocks locks) {
    locks_ = std::move(locks);
    preview_->setMarkingAllowed(!locks_.locked(monitor::PrivacyMonitor::ignoredFacesKey));
    if (locks_.locked(monitor::PrivacyMonitor::lockOnLeaveKey)) {
        showSetByAdministrator(lockOnLeave_);
        showSetByAdministrator(leaveDelay_);
    }
    const double lengths[] = {kShortPauseSeconds, kLongPauseSeconds};
    for (int i = 0; i < pauseMenu_->actions().size() && i < 2; ++i) {
        if (!locks_.pauseAllowed(lengths[i])) {
            showSetByAdministrator(pauseMenu_->actions()[i]);
        }
    }
    pauseMenu_->setToolTipsVisible(true);
    if (!locks_.pauseAllowed(1)) {
        pauseButton_->setToolTip(QString::fromUtf8(system::kSetByAdministrator));
    }
    rebuild();
}

// While paused, "Старт" and the pause button both end the pause at once.
void ContentView::showRunning(bool running, bool paused) {
    startButton_->setEnabled(!running || paused);
    stopButton_->setEnabled(running);
    // With no pause allowed at all only ending one is left (a pause begun before the policy).
    pauseButton_->setEnabled(running && (paused || locks_.pauseAllowed(1)));
    pauseButton_->setText(paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
    pauseButton_->setIcon(icon(paused ? IconName::start : IconName::pause));
    pauseButton_->setMenu(paused ? nullptr : pauseMenu_);
}

QSize ContentView::minimumSizeHint() const {
    // Never below what the rows need, so that no button is squeezed and its text cut short.
    return QWidget::minimumSizeHint().expandedTo(leastSize);
}

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (onShown_) {
        onShown_();
    }
}

}  // namespace tovak::app

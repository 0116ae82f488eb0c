#include "app/AwaySummaryWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "app/IncidentRow.h"
#include "app/JournalController.h"

namespace tovak::app {

namespace {

constexpr int kPictureSide = 96;

}  // namespace

AwaySummaryWindow::AwaySummaryWindow(JournalController& controller, std::vector<std::uint64_t> visits, QWidget* parent)
    : QWidget(parent, Qt::Window), controller_(controller), visits_(std::move(visits)) {
    setObjectName("awaySummaryWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Пока вас не было"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("Пока вас не было"), this);
    title->setObjectName("summaryTitle");
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleFont.setBold(true);
    title->setFont(titleFont);
    column->addWidget(title);
    list_ = new QVBoxLayout;
    list_->setSpacing(8);
    column->addLayout(list_);
    column->addStretch(1);

    auto* buttons = new QHBoxLayout;
    auto* journal = new QPushButton(QStringLiteral("Журнал"), this);
    journal->setObjectName("summaryJournal");
    journal->setAutoDefault(false);
    auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
    close->setObjectName("summaryClose");
    close->setDefault(true);
    buttons->addWidget(journal);
    buttons->addStretch(1);
    buttons->addWidget(close);
    column->addLayout(buttons);
    connect(journal, &QPushButton::clicked, this, [this] { controller_.showJournal(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    token_ = controller_.journal().observe([this] { scheduleRebuild(); });
    rebuild();
}

AwaySummaryWindow::~AwaySummaryWindow() {
    controller_.journal().removeObserver(token_);
}

void AwaySummaryWindow::addVisits(const std::vector<std::uint64_t>& visits) {
    visits_.insert(visits_.end(), visits.begin(), visits.end());
    rebuild();
}

void AwaySummaryWindow::scheduleRebuild() {
    if (!rebuildQueued_) {
        rebuildQueued_ = true;
        QMetaObject::invokeMethod(this, &AwaySummaryWindow::rebuild, Qt::QueuedConnection);
    }
}

void AwaySummaryWindow::rebuild() {
    rebuildQueued_ = false;
    while (QLayoutItem* item = list_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    std::erase_if(visits_, [this](std::uint64_t id) { return controller_.journal().find(id) == nullptr; });
    if (visits_.empty()) {
        // Cleared meanwhile: nothing is left to tell.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    for (const std::uint64_t id : visits_) {
        const journal::Incident& visit = *controller_.journal().find(id);
        list_->addWidget(new IncidentRow(visit, controller_.pictureOf(visit), kPictureSide, this));
    }
    adjustSize();
}

}  // namespace tovak::app

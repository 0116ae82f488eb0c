#include "app/JournalWindow.h"

#include <QDir>
#include <QHBoxLayout>
#include <QScrollArea>

#include "app/IncidentRow.h"
#include "app/JournalController.h"

namespace tovak::app {

namespace {

constexpr int kPictureSide = 56;

QString homeShortened(const QString& path) {
    const QString home = QDir::homePath();
    return path.startsWith(home + u'/') ? u'~' + path.mid(home.size()) : path;
}

}  // namespace

JournalWindow::JournalWindow(JournalController& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), controller_(controller) {
    setObjectName("journalWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Журнал"));
    resize(400, 520);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("Сегодня"), this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleFont.setBold(true);
    title->setFont(titleFont);
    column->addWidget(title);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("journalList");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* rows = new QWidget(scroll);
    list_ = new QVBoxLayout(rows);
    list_->setContentsMargins(0, 0, 8, 0);
    list_->setSpacing(4);
    scroll->setWidget(rows);
    column->addWidget(scroll, 1);
    empty_ = new QLabel(QStringLiteral("Сегодня ничего не случилось"), this);
    empty_->setObjectName("journalEmpty");
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(empty_, 1);

    keepJournal_ = new QCheckBox(QStringLiteral("Хранить журнал"), this);
    keepJournal_->setObjectName("keepJournal");
    keepPictures_ = new QCheckBox(QStringLiteral("Сохранять снимки лиц"), this);
    keepPictures_->setObjectName("keepFacePictures");
    where_ = new QLabel(this);
    where_->setObjectName("journalWhere");
    where_->setForegroundRole(QPalette::PlaceholderText);
    QFont small = where_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    where_->setFont(small);
    where_->setWordWrap(true);
    column->addWidget(keepJournal_);
    column->addWidget(keepPictures_);
    column->addWidget(where_);

    auto* buttons = new QHBoxLayout;
    auto* clear = new QPushButton(QStringLiteral("Очистить журнал"), this);
    clear->setObjectName("clearJournal");
    clear->setAutoDefault(false);
    buttons->addWidget(clear);
    buttons->addStretch(1);
    column->addLayout(buttons);

    connect(keepJournal_, &QCheckBox::toggled, this, [this](bool on) { controller_.setKeepJournal(on); });
    connect(keepPictures_, &QCheckBox::toggled, this, [this](bool on) { controller_.setKeepPictures(on); });
    connect(clear, &QPushButton::clicked, this, [this] { controller_.clearJournal(); });
    token_ = controller_.journal().observe([this] { scheduleRebuild(); });
    rebuild();
}

JournalWindow::~JournalWindow() {
    controller_.journal().removeObserver(token_);
}

void JournalWindow::scheduleRebuild() {
    if (!rebuildQueued_) {
        rebuildQueued_ = true;
        QMetaObject::invokeMethod(this, &JournalWindow::rebuild, Qt::QueuedConnection);
    }
}

void JournalWindow::rebuild() {
    rebuildQueued_ = false;
    while (QLayoutItem* item = list_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const std::vector<journal::Incident> today = controller_.journal().today(controller_.now());
    for (const journal::Incident& incident : today) {
        list_->addWidget(new IncidentRow(incident, controller_.pictureOf(incident), kPictureSide));
    }
    list_->addStretch(1);
    empty_->setVisible(today.empty());
    findChild<QScrollArea*>("journalList")->setVisible(!today.empty());

    const QSignalBlocker quietJournal(keepJournal_);
    const QSignalBlocker quietPictures(keepPictures_);
    keepJournal_->setChecked(controller_.keepsJournal());
    keepPictures_->setChecked(controller_.keepsPictures());
    keepPictures_->setEnabled(controller_.keepsJournal());
    for (auto [box, key] : {std::pair{keepJournal_, JournalController::keepJournalKey},
                            std::pair{keepPictures_, JournalController::keepFacePicturesKey}}) {
        if (controller_.adminLocks().locked(key)) {
            showSetByAdministrator(box);
        }
    }
    where_->setText(controller_.keepsJournal()
                        ? QStringLiteral("Хранится 30 дней: %1")
                              .arg(homeShortened(QString::fromStdString(controller_.store().folder())))
                        : QStringLiteral("Только до выхода из программы"));
}

}  // namespace tovak::app

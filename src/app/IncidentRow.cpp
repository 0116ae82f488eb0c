#include "app/IncidentRow.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <cmath>

#include "app/Icons.h"

namespace tovak::app {

using journal::IncidentKind;
using journal::LockOutcome;

namespace {

// "раз" after 1, 21, 31...; "раза" after 2-4, 22-24...; "раз" after 5-20, 25-30...
QString timesText(int count) {
    const int lastTwo = count % 100;
    const int last = count % 10;
    const bool few = last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14);
    return QStringLiteral("%1 %2").arg(count).arg(few ? QStringLiteral("раза") : QStringLiteral("раз"));
}

IconName iconFor(const journal::Incident& incident) {
    switch (incident.kind) {
        case IncidentKind::onlooker:
            return IconName::document;
        case IncidentKind::visit:
        case IncidentKind::leave:
            return IconName::away;
        case IncidentKind::pause:
            break;
    }
    const bool cameraGone =
        incident.reason == monitor::CameraPause::cameraLost || incident.reason == monitor::CameraPause::otherProgram;
    return cameraGone ? IconName::cameraOff : IconName::stop;
}

}  // namespace

IncidentRow::IncidentRow(const journal::Incident& incident, const QImage& picture, int pictureSide, QWidget* parent)
    : QWidget(parent) {
    setObjectName("incidentRow");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 4);
    row->setSpacing(10);
    if (pictureSide > 0) {
        auto* face = new QLabel(this);
        face->setObjectName(picture.isNull() ? "incidentIcon" : "incidentPicture");
        face->setFixedWidth(pictureSide);
        if (!picture.isNull()) {
            face->setFixedHeight(pictureSide);
            const double ratio = devicePixelRatioF();
            QPixmap pixmap = QPixmap::fromImage(picture.scaled(
                QSize(pictureSide, pictureSide) * ratio, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation));
            pixmap.setDevicePixelRatio(ratio);
            face->setPixmap(pixmap);
        } else {
            // Without a picture, what kind of incident it was, under the time's line.
            face->setPixmap(icon(iconFor(incident)).pixmap(20, 20));
            face->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        }
        row->addWidget(face, 0, Qt::AlignTop);
    }
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* head =
        new QLabel(QStringLiteral("<b>%1</b>&nbsp;&nbsp;%2").arg(timeText(incident.start), title(incident)), this);
    head->setObjectName("incidentTitle");
    head->setTextFormat(Qt::RichText);
    auto* more = new QLabel(details(incident), this);
    more->setObjectName("incidentDetails");
    more->setForegroundRole(QPalette::PlaceholderText);
    more->setWordWrap(true);
    if (incident.lock == LockOutcome::failed && !incident.lockText.empty()) {
        more->setToolTip(QString::fromStdString(incident.lockText));
    }
    text->addWidget(head);
    text->addWidget(more);
    text->addStretch(1);
    row->addLayout(text, 1);
}

QString IncidentRow::timeText(double calendarSeconds) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::floor(calendarSeconds)))
        .toLocalTime()
        .toString(QStringLiteral("HH:mm"));
}

QString IncidentRow::durationText(double seconds) {
    const auto total = static_cast<long long>(std::llround(seconds));
    if (total < 1) {
        return QStringLiteral("<1 с");
    }
    if (total < 60) {
        return QStringLiteral("%1 с").arg(total);
    }
    if (total < 3600) {
        const long long rest = total % 60;
        return rest == 0 ? QStringLiteral("%1 мин").arg(total / 60)
                         : QStringLiteral("%1 мин %2 с").arg(total / 60).arg(rest);
    }
    const long long minutes = (total % 3600) / 60;
    return minutes == 0 ? QStringLiteral("%1 ч").arg(total / 3600)
                        : QStringLiteral("%1 ч %2 мин").arg(total / 3600).arg(minutes);
}

QString IncidentRow::title(const journal::Incident& incident) {
    switch (incident.kind) {
        case IncidentKind::onlooker:
            return QStringLiteral("Смотрели через плечо");
        case IncidentKind::visit:
            return QStringLiteral("Кто-то у компьютера");
        case IncidentKind::leave:
            return QStringLiteral("Вы ушли");
        case IncidentKind::pause:
            switch (incident.reason) {
                case monitor::CameraPause::screenLocked:
                    return QStringLiteral("Пауза: экран заблокирован");
                case monitor::CameraPause::otherProgram:
                    return QStringLiteral("Камера: занята другой программой");
                case monitor::CameraPause::user:
                    return QStringLiteral("Пауза");
                case monitor::CameraPause::cameraLost:
                    return QStringLiteral("Камера: отключена");
            }
    }
    return {};
}

QString IncidentRow::details(const journal::Incident& incident) {
    const QString howLong = durationText(incident.seconds());
    switch (incident.kind) {
        case IncidentKind::onlooker:
            return QStringLiteral("%1 · файл выведен %2").arg(howLong, timesText(incident.raises));
        case IncidentKind::visit:
        case IncidentKind::leave:
            switch (incident.lock) {
                case LockOutcome::locked:
                    return QStringLiteral("%1 · экран заблокирован").arg(howLong);
                case LockOutcome::failed:
                    return QStringLiteral("%1 · блокировка не сработала").arg(howLong);
                case LockOutcome::pending:
                    return QStringLiteral("%1 · блокировка без ответа").arg(howLong);
                case LockOutcome::notAsked:
                    return QStringLiteral("%1 · без блокировки").arg(howLong);
            }
            break;
        case IncidentKind::pause:
            break;
    }
    return howLong;
}

}  // namespace tovak::app

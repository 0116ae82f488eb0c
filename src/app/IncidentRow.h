#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include "journal/Incident.h"

namespace tovak::app {

// One incident of the journal as the user reads it: its local time and what happened, how long and
// how it ended, with the visitor's picture beside it when there is one.
class IncidentRow final : public QWidget {
    Q_OBJECT

  public:
    // pictureSide: the picture's side in points, the place of an icon of the incident's kind when
    // there is no picture; 0 for neither.
    IncidentRow(const journal::Incident& incident, const QImage& picture, int pictureSide, QWidget* parent = nullptr);

    // "14:05", local time.
    [[nodiscard]] static QString timeText(double calendarSeconds);
    // "8 с", "2 мин 5 с", "1 ч 3 мин".
    [[nodiscard]] static QString durationText(double seconds);
    // "Смотрели через плечо", "Кто-то у компьютера", "Пауза: экран заблокирован", ...
    [[nodiscard]] static QString title(const journal::Incident& incident);
    // How long, and how it ended: "8 с · файл выведен 4 раза", "5 с · экран заблокирован".
    [[nodiscard]] static QString details(const journal::Incident& incident);
};

}  // namespace tovak::app

#pragma once

#include <QString>
#include <functional>

class QAction;
class QMenu;

namespace tovak::app {

// The XDG autostart entry that starts Tovak at login, monitoring at once with only its tray icon:
// $XDG_CONFIG_HOME/autostart/org.tovak.Tovak.desktop (~/.config by default). Its presence is the
// setting; nothing else remembers it.
class Autostart {
  public:
    // program: the executable the entry runs.
    explicit Autostart(QString program);

    [[nodiscard]] QString path() const;
    [[nodiscard]] bool isEnabled() const;
    // Writes or removes the entry; false when that could not be done.
    bool setEnabled(bool on) const;
    // The Exec line's program, quoted and escaped as desktop entries require.
    [[nodiscard]] static QString execProgram(const QString& program);

    // The checkable "Запускать при входе" entry: its check mark is read from the file each time
    // the menu opens, and toggling it writes or removes the file; onFailure runs when that fails.
    QAction* addMenuEntry(QMenu& menu, std::function<void()> onFailure) const;

  private:
    QString program_;
};

}  // namespace tovak::app

#include "app/Autostart.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QSaveFile>
#include <QStandardPaths>

namespace tovak::app {

Autostart::Autostart(QString program) : program_(std::move(program)) {}

QString Autostart::path() const {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/org.tovak.Tovak.desktop");
}

bool Autostart::isEnabled() const {
    return QFileInfo::exists(path());
}

QString Autostart::execProgram(const QString& program) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = false;
    QString argument;
    for (const QChar ch : program) {
        quote = quote || reserved.contains(ch);
        if (ch == u'"' || ch == u'`' || ch == u'$' || ch == u'\\') {
            argument += u'\\';
        }
        argument += ch;
    }
    if (quote) {
        argument = u'"' + argument + u'"';
    }
    // Then the escapes of every desktop entry value, and of the Exec key's field codes.
    argument.replace(u'\\', QStringLiteral("\\\\")).replace(u'\n', QStringLiteral("\\n"));
    return argument.replace(u'%', QStringLiteral("%%"));
}

bool Autostart::setEnabled(bool on) const {
    const QString file = path();
    if (!on) {
        return !QFileInfo::exists(file) || QFile::remove(file);
    }
    if (!QDir().mkpath(QFileInfo(file).absolutePath())) {
        return false;
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QString entry = QStringLiteral(
                              "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Товак\n"
                              "Exec=%1 --start --hidden\n"
                              "Icon=org.tovak.Tovak\n"
                              "Terminal=false\n"
                              "X-GNOME-Autostart-enabled=true\n")
                              .arg(execProgram(program_));
    out.write(entry.toUtf8());
    return out.commit();
}

QAction* Autostart::addMenuEntry(QMenu& menu, std::function<void()> onFailure) const {
    QAction* action = menu.addAction(QStringLiteral("Запускать при входе"));
    action->setCheckable(true);
    action->setChecked(isEnabled());
    QObject::connect(&menu, &QMenu::aboutToShow, action,
                     [self = *this, action] { action->setChecked(self.isEnabled()); });
    QObject::connect(action, &QAction::triggered, action,
                     [self = *this, action, onFailure = std::move(onFailure)](bool on) {
                         if (!self.setEnabled(on) && onFailure) {
                             onFailure();
                         }
                         action->setChecked(self.isEnabled());
                     });
    return action;
}

}  // namespace tovak::app

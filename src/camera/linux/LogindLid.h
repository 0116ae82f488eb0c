#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>

namespace tovak::camera {

// Asks logind once whether the lid is closed: false where it cannot be asked, so that no camera is
// passed over for nothing. Any thread; blocks for at most timeoutMs.
[[nodiscard]] bool logindLidClosed(const QDBusConnection& systemBus, int timeoutMs = 1000);

// Whether the laptop's lid is closed, as logind says on the system bus (LidClosed), and its changes.
class LogindLid final : public QObject {
    Q_OBJECT

  public:
    explicit LogindLid(QDBusConnection systemBus, int timeoutMs = 1000);

    [[nodiscard]] bool closed() const { return logindLidClosed(bus_, timeoutMs_); }
    // The same question, to be asked on any thread, also once this object is gone.
    [[nodiscard]] std::function<bool()> question() const {
        return [bus = bus_, timeoutMs = timeoutMs_] { return logindLidClosed(bus, timeoutMs); };
    }
    // Each change logind announces, on the thread that made this object; heard only from logind's
    // own name, which no other program on the system bus may take.
    void setOnChange(std::function<void(bool closed)> onChange) { onChange_ = std::move(onChange); }

  private Q_SLOTS:
    void propertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

  private:
    QDBusConnection bus_;
    int timeoutMs_;
    std::function<void(bool)> onChange_;
};

}  // namespace tovak::camera

#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>
#include <vector>

#include "monitor/PrivacyMonitor.h"

namespace tovak::app {

// Tovak on the user's session bus, for scripts, status bars and key bindings: the name
// org.tovak.Tovak1, the object /org/tovak/Tovak1 with the interface of the same name. Properties
// State ("watching", "paused" or "stopped"), Away, PausedUntil (calendar seconds, 0 while not
// paused) and Status (the status line), each change announced by PropertiesChanged; methods Start,
// Stop, StepAway, ComeBack, Pause(seconds) and Resume, each the one monitor operation the window's
// button of that name calls. Methods are obeyed only for callers of the user's own account. Main
// thread.
class ControlService final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tovak.Tovak1")
    Q_PROPERTY(QString State READ state)
    Q_PROPERTY(bool Away READ away)
    Q_PROPERTY(qlonglong PausedUntil READ pausedUntil)
    Q_PROPERTY(QString Status READ status)

  public:
    static constexpr const char* serviceName = "org.tovak.Tovak1";
    static constexpr const char* objectPath = "/org/tovak/Tovak1";
    // The longest pause a caller may ask for, in seconds: a day.
    static constexpr unsigned maxPauseSeconds = 24 * 3600;

    enum class Claim { claimed, taken, noBus };

    explicit ControlService(monitor::PrivacyMonitor& monitor, QObject* parent = nullptr);
    ~ControlService() override;
    ControlService(const ControlService&) = delete;
    ControlService& operator=(const ControlService&) = delete;

    // Takes the name, before anything else is made: taken when another process holds it (another
    // Tovak of this user), which this one must not run beside. Held until the process ends.
    static Claim claimName(QDBusConnection bus);
    // The longest pause the administrator allows (0: none); longer ones, and Stop, are refused.
    void setLongestPause(std::optional<unsigned> seconds) { longestPause_ = seconds; }
    // Puts the object on the bus; false when it cannot be.
    bool publish(QDBusConnection bus);

    [[nodiscard]] QString state() const;
    [[nodiscard]] bool away() const;
    [[nodiscard]] qlonglong pausedUntil() const;
    [[nodiscard]] QString status() const;

  public Q_SLOTS:
    void Start();
    void Stop();
    void StepAway();
    void ComeBack();
    void Pause(uint seconds);
    void Resume();

  private:
    // False, with an error sent back, for a caller of another account.
    bool callerIsUser();
    // True, with an error sent back, for a pause (none: a stop) longer than the administrator allows.
    bool refusedByAdministrator(std::optional<unsigned> pauseSeconds);
    [[nodiscard]] QVariantMap properties() const;
    void scheduleAnnouncement();
    void announce();

    monitor::PrivacyMonitor& monitor_;
    QDBusConnection bus_{QString()};
    bool registered_ = false;
    std::optional<unsigned> longestPause_;
    QVariantMap announced_;
    bool announcementQueued_ = false;
    std::vector<std::function<void()>> unobserve_;
};

}  // namespace tovak::app

#pragma once

#include <QObject>
#include <functional>

namespace tovak::app {

// While away mode is on, Escape (with any modifiers) anywhere in the application leaves it. The
// application-wide key filter is installed only while away mode is on, and removed with this object.
class AwayEscMonitor final : public QObject {
    Q_OBJECT

  public:
    explicit AwayEscMonitor(QObject* parent = nullptr);
    ~AwayEscMonitor() override;

    // Installs or removes the key filter to match awayMode; costs nothing when it already matches.
    void sync(bool awayMode, std::function<void()> onEscape);
    [[nodiscard]] bool isInstalled() const { return installed_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool installed_ = false;
    std::function<void()> onEscape_;
};

}  // namespace tovak::app

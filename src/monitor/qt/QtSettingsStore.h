#pragma once

#include <QSettings>
#include <QString>
#include <memory>

#include "monitor/ports/Services.h"

namespace tovak::monitor {

// The user's settings through QSettings. Every call works on its own QSettings object, which Qt
// allows from any thread at once (the monitor reads from the session queue and the main thread).
class QtSettingsStore final : public monitor::SettingsStore {
  public:
    // The user's own settings (on Linux ~/.config/tovak/tovak.conf).
    QtSettingsStore();
    // An INI file at this path, for tests and portable use.
    explicit QtSettingsStore(QString iniFilePath);

    [[nodiscard]] std::optional<std::string> string(const std::string& key) const override;
    bool setString(const std::string& key, const std::string& value) override;
    bool remove(const std::string& key) override;

  private:
    [[nodiscard]] std::unique_ptr<QSettings> open() const;

    QString iniFilePath_;
};

}  // namespace tovak::monitor

#pragma once

#include <QDBusConnection>
#include <QString>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "trigger/WindowControl.h"

namespace tovak::trigger {

// Window control on KDE Plasma 5.27 and 6 (Wayland or X11 sessions alike), through KWin's own
// scripting: for each request a one-shot script is loaded over D-Bus (org.kde.KWin /Scripting), run
// and unloaded; it reports what it did back to an object this backend exports on its own connection,
// org.tovak.Tovak.KWinScript.Report(token, result as JSON), taken only from KWin and with the token
// of the request it answers.
class KdeWindowControl final : public WindowControl {
  public:
    // KWin's scripting on the session bus; null when it does not answer.
    static std::shared_ptr<KdeWindowControl> connect();
    static std::shared_ptr<KdeWindowControl> connect(const QDBusConnection& bus);

    explicit KdeWindowControl(QDBusConnection bus);
    ~KdeWindowControl() override;
    KdeWindowControl(const KdeWindowControl&) = delete;
    KdeWindowControl& operator=(const KdeWindowControl&) = delete;

    [[nodiscard]] std::string name() const override { return "kde"; }
    [[nodiscard]] std::optional<int> countWindowsTitled(const std::string& fileName) override;
    Outcome raiseWindowsTitled(const std::string& fileName) override;
    Outcome closeWindowsTitled(const std::string& fileName) override;
    Outcome placePanel(const std::string& panelTitle, const DesktopRect& where) override;
    [[nodiscard]] std::optional<DesktopRect> activeScreen() override;

  private:
    class Receiver;
    struct Report;

    // Runs the script for one operation and returns its report; none when KWin did not run it or
    // it did not report in time.
    std::optional<Report> run(const char* operation, const QString& text, const DesktopRect& where = {});

    QDBusConnection bus_;
    std::mutex calls_;
    QString folder_, path_;
    std::unique_ptr<Receiver> receiver_;
    // Which object path KWin gives a loaded script: "/Scripting/Script<id>" (6), "/<id>" (5).
    QString scriptPathFormat_;
};

}  // namespace tovak::trigger

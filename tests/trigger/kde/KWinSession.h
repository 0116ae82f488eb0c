#pragma once

#include <unistd.h>

#include <QDBusMessage>
#include <filesystem>
#include <sstream>
#include <string>

#include "trigger/gnome/CompositorSession.h"

namespace tovak::testing {

// A headless KWin (Wayland, with XWayland). The test reads KWin's own window list through judge scripts
// of its own, which print what they find to KWin's log.
class KWinSession : public CompositorSession {
  public:
    // Starts KWin with this many virtual outputs of 1024x768, side by side. Returns why it could not (for
    // GTEST_SKIP) when KWin is not installed; otherwise waits until it answers.
    std::string start(int outputs) {
        if (::access("/usr/bin/kwin_wayland", X_OK) != 0) {
            return "kwin_wayland is not installed (apt install kwin-wayland)";
        }
        // The installed binary carries a file capability that a container may refuse to run; a plain
        // copy still named kwin_wayland runs the same.
        const std::string kwin = folder_ / "bin/kwin_wayland";
        std::filesystem::copy_file("/usr/bin/kwin_wayland", kwin);
        // KWin starts the program it is given once XWayland is up, with the X display to use.
        const std::string report =
            folder_.script("report-display", "echo \"$DISPLAY $XAUTHORITY\" > " + (folder_ / "display"));
        compositor_ = spawnChild({"env",
                                  "-u",
                                  "WAYLAND_DISPLAY",
                                  "DBUS_SESSION_BUS_ADDRESS=" + address_,
                                  "XDG_RUNTIME_DIR=" + (folder_ / "run"),
                                  "XDG_CONFIG_HOME=" + (folder_ / "config"),
                                  "HOME=" + (folder_ / "home"),
                                  "sh",
                                  "-c",
                                  "exec \"$@\" 2>" + (folder_ / "kwin.log"),
                                  "sh",
                                  kwin,
                                  "--virtual",
                                  "--no-lockscreen",
                                  "--xwayland",
                                  "--socket",
                                  kWaylandDisplay,
                                  "--output-count",
                                  std::to_string(outputs),
                                  report},
                                 {.stdoutFd = -1, .display = "", .quietStderr = true});
        waitUntil([&] { return folder_.read("display").find('\n') != std::string::npos; });
        std::istringstream(folder_.read("display")) >> x11Display_ >> xauthority_;
        return "";
    }

    // Runs a judge script (the body of a function with the workspace in scope) in KWin and returns the
    // text it returned; empty when it did not run.
    std::string judge(const std::string& body) {
        const std::string marker = "TOVAKJUDGE" + std::to_string(++judged_) + " ";
        const std::string file =
            folder_.write("judge.js", "print(" + jsString(marker) + " + (function () {" + kHelpers + body + "})());");
        const QString plugin = QStringLiteral("tovak-judge-%1").arg(judged_);
        const QDBusMessage loaded = callScripting("loadScript", {QString::fromStdString(file), plugin});
        if (loaded.type() == QDBusMessage::ReplyMessage) {
            bus().call(QDBusMessage::createMethodCall("org.kde.KWin", "/" + loaded.arguments().value(0).toString(),
                                                      "org.kde.kwin.Script", "run"),
                       QDBus::Block, 5000);
        }
        std::string line;
        waitUntil([&] {
            const std::string log = folder_.read("kwin.log");
            const size_t at = log.find(marker), end = at == std::string::npos ? at : log.find('\n', at);
            line = end == std::string::npos ? std::string() : log.substr(at + marker.size(), end - at - marker.size());
            return end != std::string::npos;
        });
        callScripting("unloadScript", {plugin});
        return line;
    }
    std::string window(const std::string& title) override {
        return judge("var w = find(" + jsString(title) +
                     "); if (!w) return 'none'; var g = w.frameGeometry;"
                     "return 'focused=' + (w === workspace.activeClient) + ' minimized=' + w.minimized +"
                     "' above=' + w.keepAbove + ' sticky=' + w.onAllDesktops + ' at=' + g.x + ',' + g.y +"
                     "' screen=' + w.screen;");
    }
    void act(const std::string& title, const std::string& action) override {
        judge("var w = find(" + jsString(title) + "), action = " + jsString(action) +
              "; if (action === 'activate') workspace.activeClient = w;"
              "else if (action === 'minimize') w.minimized = true;"
              "else workspace.sendClientToScreen(w, Number(action.slice(7))); return '';");
    }

  private:
    QDBusMessage callScripting(const char* method, const QVariantList& arguments) const {
        QDBusMessage message =
            QDBusMessage::createMethodCall("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", method);
        message.setArguments(arguments);
        return bus().call(message, QDBus::Block, 5000);
    }

    static constexpr const char* kHelpers =
        "var all = workspace.clientList();"
        "function find(title) { for (var i = 0; i < all.length; i++) if (all[i].caption === title) return all[i];"
        " return null; }";

    int judged_ = 0;
};

}  // namespace tovak::testing

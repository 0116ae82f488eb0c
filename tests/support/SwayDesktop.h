#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/XDisplay.h"
#include "trigger/WindowControl.h"
#include "trigger/wlroots/SwayIpc.h"

namespace tovak::testing {

// sway 1.7 of the test's own, headless, with XWayland and two outputs side by side (HEADLESS-1
// 1280x720 at 0,0 and HEADLESS-2 1024x768 at 1280,0), as an unprivileged user (sway refuses root):
// the test's windows are started by sway itself, and its window tree is the judge.
class SwayDesktop {
  public:
    struct Window {
        std::string name;
        std::string shell;  // "xdg_shell" or "xwayland"
        bool focused = false;
        bool floating = false;
        bool sticky = false;
        trigger::DesktopRect rect;
    };

    SwayDesktop() : dir_("tovak-sway") { launch(); }
    ~SwayDesktop() { stopChild(sway_); }
    SwayDesktop(const SwayDesktop&) = delete;
    SwayDesktop& operator=(const SwayDesktop&) = delete;

    // Ends sway and starts it again in the same folder, its Wayland socket under the same name.
    bool restart() {
        stopChild(sway_);
        std::filesystem::remove(dir_ / "display");
        ipcPath_.clear(), wayland_.clear(), display_.clear();
        launch();
        return ready_;
    }

    static bool installed() { return std::system("command -v sway >/dev/null 2>&1") == 0; }

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] const std::string& waylandSocket() const { return wayland_; }
    [[nodiscard]] const std::string& swaySocket() const { return ipcPath_; }
    [[nodiscard]] const std::string& x11Display() const { return display_; }

    // A sway command; true when every part of it succeeded.
    bool run(const std::string& command) const {
        const auto answer = trigger::SwayIpc(ipcPath_).request(trigger::SwayIpc::Message::runCommand, command);
        if (!answer || answer->items().empty()) {
            return false;
        }
        for (const system::Json& result : answer->items()) {
            if (!result["success"].isTrue()) {
                return false;
            }
        }
        return true;
    }

    // Every window in sway's tree, tiled and floating.
    [[nodiscard]] std::vector<Window> windows() const {
        std::vector<Window> found;
        if (const auto tree = trigger::SwayIpc(ipcPath_).request(trigger::SwayIpc::Message::getTree)) {
            collect(*tree, false, found);
        }
        return found;
    }
    [[nodiscard]] std::vector<Window> windowsNamed(const std::string& name) const {
        std::vector<Window> named;
        for (const Window& w : windows()) {
            if (w.name == name) {
                named.push_back(w);
            }
        }
        return named;
    }
    [[nodiscard]] bool focused(const std::string& name) const {
        const auto named = windowsNamed(name);
        return named.size() == 1 && named.front().focused;
    }

  private:
    void launch() {
        const std::string d = dir_.path().string();
        {
            std::ofstream config(dir_ / "config");
            config << "xwayland force\n"
                   << "output HEADLESS-1 resolution 1280x720 position 0 0\n"
                   // XWayland lets in sway's user only; the test may be root.
                   << "exec sh -c 'xhost +si:localuser:root; echo \"$DISPLAY\" > " << d << "/display'\n";
        }
        std::vector<std::string> command = {"env",
                                            "-i",
                                            "PATH=/usr/local/bin:/usr/bin:/bin",
                                            "HOME=" + d,
                                            "XDG_RUNTIME_DIR=" + d,
                                            "WLR_BACKENDS=headless",
                                            "WLR_LIBINPUT_NO_DEVICES=1",
                                            "WLR_RENDERER=pixman"};
        if (::geteuid() == 0) {
            // The folder becomes the unprivileged user's; root reaches its sockets all the same.
            std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_all);
            if (::chown(d.c_str(), 65534, 65534) != 0) {
                return;
            }
            for (const char* arg : {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}) {
                command.emplace_back(arg);
            }
        }
        command.insert(command.end(), {"sway", "-c", dir_ / "config"});
        sway_ = spawnChild(command, {.display = std::nullopt, .quietStderr = true});
        ready_ = sway_ > 0 && XDisplay::waitUntil([&] { return findPaths(); }, 20) && run("create_output") &&
                 run("output HEADLESS-2 resolution 1024x768 position 1280 0");
    }

    bool findPaths() {
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("sway-ipc.")) {
                ipcPath_ = entry.path().string();
            } else if (name.starts_with("wayland-") && !name.ends_with(".lock")) {
                wayland_ = entry.path().string();
            }
        }
        std::ifstream(dir_ / "display") >> display_;
        return !ipcPath_.empty() && !wayland_.empty() && !display_.empty();
    }

    static void collect(const system::Json& node, bool floating, std::vector<Window>& found) {
        if (node["type"].text() == "con" || node["type"].text() == "floating_con") {
            if (node["shell"].kind() == system::Json::Kind::string) {
                const system::Json& r = node["rect"];
                found.push_back({node["name"].text(), node["shell"].text(), node["focused"].isTrue(), floating,
                                 node["sticky"].isTrue(),
                                 trigger::DesktopRect{
                                     static_cast<int>(r["x"].number()), static_cast<int>(r["y"].number()),
                                     static_cast<int>(r["width"].number()), static_cast<int>(r["height"].number())}});
            }
        }
        for (const system::Json& child : node["nodes"].items()) {
            collect(child, floating, found);
        }
        for (const system::Json& child : node["floating_nodes"].items()) {
            collect(child, true, found);
        }
    }

    TempDir dir_;
    pid_t sway_ = -1;
    bool ready_ = false;
    std::string ipcPath_, wayland_, display_;
};

}  // namespace tovak::testing

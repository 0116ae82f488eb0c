// The window application on the demo camera under each desktop's real compositor, headless with buses of its
// own: the onlooker's decoy (the default document) opens once as a native Wayland window, is focused while the
// onlooker stays and is gone after they leave; the panel sits in the lower right corner, above. The
// compositor's own window list decides.
#include <gtest/gtest.h>

#include <QByteArray>
#include <algorithm>
#include <chrono>
#include <iostream>
#include <sstream>
#include <thread>

#include "support/SwayDesktop.h"
#include "trigger/gnome/GnomeShellSession.h"
#include "trigger/kde/KWinSession.h"

namespace tovak::testing {
namespace {

using trigger::DesktopRect;
// A window as its compositor lists it; "floating" stands for kept above on GNOME and KDE.
using Seen = SwayDesktop::Window;

// Windows as the judges below print them, "title focused above sticky x y width height;...", the title
// percent-encoded so that no log or quoting changes it.
std::vector<Seen> parseWindows(const std::string& text) {
    std::vector<Seen> seen;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line, ';');) {
        std::istringstream fields(line);
        Seen w;
        std::string focused, above, sticky;
        if (fields >> w.name >> focused >> above >> sticky >> w.rect.x >> w.rect.y >> w.rect.width >> w.rect.height) {
            w.name = QByteArray::fromPercentEncoding(QByteArray::fromStdString(w.name)).toStdString();
            w.focused = focused == "true", w.floating = above == "true", w.sticky = sticky == "true";
            seen.push_back(w);
        }
    }
    return seen;
}

// A compositor with what Tovak needs of it.
class Desktop {
  public:
    virtual ~Desktop() = default;
    // Why it cannot run here (for GTEST_SKIP), empty once it answers.
    virtual std::string launch() = 0;
    virtual std::vector<std::string> environment() = 0;
    virtual std::vector<Seen> windows() = 0;
    std::vector<DesktopRect> outputs;
};

class GnomeDesktop final : public Desktop, GnomeShellSession {
  public:
    std::string launch() override {
        installExtension();
        folder_.write(std::string("data/gnome-shell/extensions/") + kUuid + "/allowed-callers", TOVAK_BINARY "\n");
        enableAtStart(true);
        outputs = {{0, 0, 1280, 800}};
        return startShell({"1280x800"});
    }
    std::vector<std::string> environment() override {
        return {"WAYLAND_DISPLAY=" + (folder_ / "run/") + kWaylandDisplay, "DISPLAY=" + x11Display_,
                "XAUTHORITY=" + xauthority_, "DBUS_SESSION_BUS_ADDRESS=" + address_, "XDG_CURRENT_DESKTOP=GNOME"};
    }
    std::vector<Seen> windows() override {
        return parseWindows(eval(
            "global.display.list_all_windows().map(w => { const r = w.get_frame_rect(); return [encodeURIComponent("
            "w.get_title() ?? ''), w.has_focus(), w.is_above(), w.is_on_all_workspaces(), r.x, r.y, r.width, "
            "r.height].join(' '); }).join(';')"));
    }
};

class KdeDesktop final : public Desktop, KWinSession {
  public:
    std::string launch() override {
        outputs = {{0, 0, 1024, 768}};
        return start(1);
    }
    std::vector<std::string> environment() override {
        return {"WAYLAND_DISPLAY=" + (folder_ / "run/") + kWaylandDisplay, "DISPLAY=" + x11Display_,
                "XAUTHORITY=" + xauthority_, "DBUS_SESSION_BUS_ADDRESS=" + address_, "XDG_CURRENT_DESKTOP=KDE"};
    }
    std::vector<Seen> windows() override {
        return parseWindows(
            judge("var out = []; for (var i = 0; i < all.length; i++) { var w = all[i], g = w.frameGeometry; "
                  "out.push([encodeURIComponent(w.caption), w === workspace.activeClient, w.keepAbove, "
                  "w.onAllDesktops, g.x, g.y, g.width, g.height].join(' ')); } return out.join(';');"));
    }
};

class SwayDemoDesktop final : public Desktop {
  public:
    ~SwayDemoDesktop() override { stopChild(bus_); }
    std::string launch() override {
        if (!SwayDesktop::installed()) {
            return "sway is not installed (scripts/packages/desktops.txt)";
        }
        sway_ = std::make_unique<SwayDesktop>();
        address_ = spawnAndReadLine({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, bus_);
        outputs = {{0, 0, 1280, 720}, {1280, 0, 1024, 768}};
        return sway_->ready() ? "" : "sway did not start";
    }
    std::vector<std::string> environment() override {
        return {"WAYLAND_DISPLAY=" + sway_->waylandSocket(), "DISPLAY=" + sway_->x11Display(),
                "SWAYSOCK=" + sway_->swaySocket(), "DBUS_SESSION_BUS_ADDRESS=" + address_, "XDG_CURRENT_DESKTOP=sway"};
    }
    std::vector<Seen> windows() override { return sway_->windows(); }

  private:
    std::unique_ptr<SwayDesktop> sway_;
    pid_t bus_ = -1;
    std::string address_;
};

// The panel's place on the output holding it; "misplaced" unless in the lower right corner (16 px in, give
// or take), above and on every desktop.
std::string panelPlace(const Seen& panel, const std::vector<DesktopRect>& outputs) {
    const DesktopRect& r = panel.rect;
    for (const DesktopRect& o : outputs) {
        const int right = o.x + o.width - r.x - r.width, bottom = o.y + o.height - r.y - r.height;
        if (r.x >= o.x && r.y >= o.y && right >= 0 && bottom >= 0) {
            std::ostringstream place;
            place << std::boolalpha;
            place << (right <= 40 && bottom <= 40 && panel.floating && panel.sticky ? "" : "misplaced: ") << r.width
                  << "x" << r.height << " at " << r.x << "," << r.y << " on " << o.width << "x" << o.height << " at "
                  << o.x << "," << o.y << ", " << right << " px from the right, " << bottom
                  << " from the bottom, above " << panel.floating << ", on every desktop " << panel.sticky;
            return place.str();
        }
    }
    return "misplaced: off every output";
}

// What the compositor showed, in seconds from Tovak's start; -1 for never.
struct Timeline {
    double opened = -1, focused = -1, closed = -1, panelPlaced = -1, panelGone = -1;
    std::size_t mostCopies = 0;
    std::string panel, faults;
};

// Runs Tovak on the demo camera in the desktop's session, in a home of its own, and watches the compositor's
// window list until the decoy has closed and the panel gone, and a little longer.
Timeline watchDemo(Desktop& desktop, const TempDir& home) {
    std::string variables =
        "PATH=" + (home / "bin") + ":/usr/bin:/bin HOME=" + (home / "home") + " XDG_CONFIG_HOME=" + (home / "config") +
        " XDG_STATE_HOME=" + (home / "state") + " XDG_RUNTIME_DIR=" + (home / "run") +
        " XDG_SESSION_TYPE=wayland LANG=C.UTF-8 TOVAK_INSTANCE_NAME=" + home.path().filename().string();
    for (const std::string& variable : desktop.environment()) {
        variables += " '" + variable + "'";
    }
    const std::string run = "exec env -i " + variables + " \"$0\" --camera demo --start --lock dry-run >\"$1\" 2>&1";
    const pid_t tovak = spawnChild({"sh", "-c", run, TOVAK_BINARY, home / "tovak.log"});
    const auto start = std::chrono::steady_clock::now();
    Timeline seen;
    // The demo's scene plays again from 46 s on: the watch ends before its second onlooker.
    for (double t = 0; t < 50; std::this_thread::sleep_for(std::chrono::milliseconds(200))) {
        t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::size_t copies = 0;
        bool panelShown = false;
        for (const Seen& w : desktop.windows()) {
            if (w.name.find("DefaultTrigger.csv") != std::string::npos) {
                ++copies;
                seen.focused = seen.focused < 0 && w.focused ? t : seen.focused;
            } else if (w.name == "Товак — панель — Товак") {
                panelShown = true;
                const std::string place = panelPlace(w, desktop.outputs);
                // Once placed, it stays placed until it goes.
                if (seen.panelPlaced >= 0 && place.starts_with("misplaced")) {
                    seen.faults += "at " + std::to_string(t) + " s the panel was " + place + "\n";
                } else if (seen.panelPlaced < 0) {
                    seen.panelPlaced = place.starts_with("misplaced") ? -1 : t;
                    seen.panel = place;
                }
            }
        }
        seen.mostCopies = std::max(seen.mostCopies, copies);
        seen.opened = seen.opened < 0 && copies > 0 ? t : seen.opened;
        if (seen.closed >= 0 && copies > 0) {
            seen.faults += "at " + std::to_string(t) + " s the decoy was back\n";
        }
        seen.closed = seen.closed < 0 && seen.opened >= 0 && copies == 0 ? t : seen.closed;
        seen.panelGone = seen.panelGone < 0 && seen.panelPlaced >= 0 && !panelShown ? t : seen.panelGone;
        // The panel hides two seconds after the decoy closes; a little longer shows that nothing opens again.
        if (seen.closed >= 0 && !panelShown && t > seen.closed + 4) {
            break;
        }
    }
    stopChild(tovak);
    return seen;
}

struct Row {
    const char* name;
    std::unique_ptr<Desktop> (*make)();
};
template <class T>
std::unique_ptr<Desktop> make() {
    return std::make_unique<T>();
}

class DesktopDemo : public ::testing::TestWithParam<Row> {};

TEST_P(DesktopDemo, OneDecoyPerEpisodeFocusedThenClosedAndThePanelInTheCornerAbove) {
    std::unique_ptr<Desktop> desktop = GetParam().make();
    if (const std::string why = desktop->launch(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    TempDir home("tovak-desktop-demo");
    std::filesystem::create_directories(home / "run");
    std::filesystem::permissions(home / "run", std::filesystem::perms::owner_all);
    // Stands in for the desktop's opener: the document in a native Wayland window titled with its name, as a
    // viewer shows it, and the opener itself done at once; it notes the platform it was told to use.
    home.script("bin/xdg-open", "echo \"$1 ${QT_QPA_PLATFORM-unset}\" >> " + (home / "opened") +
                                    "\nQT_QPA_PLATFORM=wayland setsid " + TOVAK_TEST_WINDOW +
                                    " \"${1##*/} — Просмотр\" >/dev/null 2>&1 &");

    const Timeline seen = watchDemo(*desktop, home);
    std::cout << "[" << GetParam().name << "] decoy opened at " << seen.opened << " s, focused at " << seen.focused
              << " s, closed at " << seen.closed << " s; panel placed at " << seen.panelPlaced << " s, gone at "
              << seen.panelGone << " s: " << seen.panel << "\n";
    EXPECT_GE(seen.opened, 0) << home.read("tovak.log");
    EXPECT_GE(seen.focused, seen.opened);
    EXPECT_GT(seen.closed, seen.focused);
    EXPECT_EQ(seen.mostCopies, 1u);
    const std::string opened = home.read("opened");
    EXPECT_EQ(std::count(opened.begin(), opened.end(), '\n'), 1) << "the opener runs once per episode:\n" << opened;
    // With the user's environment: Tovak's own choice of platform is not passed on.
    EXPECT_TRUE(opened.ends_with("/DefaultTrigger.csv unset\n")) << opened;
    EXPECT_GE(seen.panelPlaced, 0) << "the panel never stood in the corner, above: " << seen.panel;
    EXPECT_GT(seen.panelGone, seen.panelPlaced);
    EXPECT_EQ(seen.faults, "");
}

INSTANTIATE_TEST_SUITE_P(Compositors, DesktopDemo,
                         ::testing::Values(Row{"gnome", make<GnomeDesktop>}, Row{"kde", make<KdeDesktop>},
                                           Row{"sway", make<SwayDemoDesktop>}),
                         [](const ::testing::TestParamInfo<Row>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tovak::testing

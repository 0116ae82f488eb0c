#include "app/DisplayCheck.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <string_view>
#include <vector>

namespace tovak::app {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool xServerAnswers(const std::string& display) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

// The platforms Qt will try, in order, without their options ("xcb", "wayland-egl", "offscreen").
std::vector<std::string> platformsToTry(const std::string& chosen) {
    if (chosen.empty()) {
        return {"xcb", "wayland"};
    }
    std::vector<std::string> names;
    for (std::size_t start = 0; start <= chosen.size();) {
        const std::size_t end = std::min(chosen.find(';', start), chosen.size());
        const std::string_view entry = std::string_view(chosen).substr(start, end - start);
        names.emplace_back(entry.substr(0, entry.find(':')));
        start = end + 1;
    }
    return names;
}

}  // namespace

std::optional<std::string> missingDisplayMessage(const std::string& platforms) {
    const std::string x11 = environment("DISPLAY");
    const std::string wayland = environment("WAYLAND_DISPLAY");
    bool xSilent = false;
    for (const std::string& platform : platformsToTry(platforms)) {
        if (platform == "xcb") {
            if (!x11.empty() && xServerAnswers(x11)) {
                return std::nullopt;
            }
            xSilent = xSilent || !x11.empty();
        } else if (platform.starts_with("wayland")) {
            if (!wayland.empty()) {
                return std::nullopt;
            }
        } else {
            // offscreen, vnc, eglfs and the like draw without a display server.
            return std::nullopt;
        }
    }
    const std::string hint = ". Без окна: tovak --headless";
    if (xSilent) {
        return "tovak: дисплей " + x11 + " не отвечает" + hint;
    }
    return "tovak: нет дисплея (не заданы DISPLAY и WAYLAND_DISPLAY)" + hint;
}

}  // namespace tovak::app

#include "trigger/wlroots/WlrootsWindowControl.h"

#include <cmath>

namespace tovak::trigger {

using system::Json;
using Action = ToplevelConnection::Action;

std::shared_ptr<WlrootsWindowControl> WlrootsWindowControl::connect(const std::string& waylandDisplay,
                                                                    const std::string& swaySocket) {
    std::unique_ptr<ToplevelConnection> connection = ToplevelConnection::open(waylandDisplay);
    if (!connection) {
        return nullptr;
    }
    return std::shared_ptr<WlrootsWindowControl>(
        new WlrootsWindowControl(waylandDisplay, std::move(connection), swaySocket));
}

WlrootsWindowControl::WlrootsWindowControl(std::string waylandDisplay, std::unique_ptr<ToplevelConnection> connection,
                                           std::string swaySocket)
    : waylandDisplay_(std::move(waylandDisplay)), connection_(std::move(connection)) {
    if (!swaySocket.empty()) {
        sway_.emplace(std::move(swaySocket));
    }
}

ToplevelConnection* WlrootsWindowControl::connection() {
    if (!connection_ || !connection_->alive()) {
        connection_.reset();
        connection_ = ToplevelConnection::open(waylandDisplay_);
    }
    return connection_.get();
}

std::optional<int> WlrootsWindowControl::countWindowsTitled(const std::string& fileName) {
    ToplevelConnection* windows = connection();
    return windows != nullptr ? windows->act(Action::count, fileName) : std::nullopt;
}

WindowControl::Outcome WlrootsWindowControl::raiseWindowsTitled(const std::string& fileName) {
    ToplevelConnection* windows = connection();
    if (windows == nullptr) {
        return Outcome::failed;
    }
    const std::optional<int> raised = windows->act(windows->hasSeat() ? Action::activate : Action::count, fileName);
    if (!raised) {
        return Outcome::failed;
    }
    if (*raised == 0) {
        return Outcome::noWindow;
    }
    return windows->hasSeat() ? Outcome::done : Outcome::unsupported;
}

WindowControl::Outcome WlrootsWindowControl::closeWindowsTitled(const std::string& fileName) {
    ToplevelConnection* windows = connection();
    const std::optional<int> asked = windows != nullptr ? windows->act(Action::close, fileName) : std::nullopt;
    if (!asked) {
        return Outcome::failed;
    }
    return *asked > 0 ? Outcome::done : Outcome::noWindow;
}

WindowControl::Outcome WlrootsWindowControl::placePanel(const std::string& panelTitle, const DesktopRect& where) {
    if (!sway_) {
        return Outcome::unsupported;
    }
    if (panelTitle.empty()) {
        return Outcome::noWindow;
    }
    // Floating windows stay above tiled ones in sway; sticky ones follow the user to every
    // workspace of their output.
    const std::string command = "[title=\"" + SwayIpc::exactCriterion(panelTitle) +
                                "\"] floating enable, sticky enable, border none, resize set width " +
                                std::to_string(where.width) + " px height " + std::to_string(where.height) +
                                " px, move absolute position " + std::to_string(where.x) + " " +
                                std::to_string(where.y);
    const std::optional<Json> answer = sway_->request(SwayIpc::Message::runCommand, command);
    if (!answer || answer->kind() != Json::Kind::array || answer->items().empty()) {
        return Outcome::failed;
    }
    for (const Json& result : answer->items()) {
        if (!result["success"].isTrue()) {
            // sway answers a criterion that matches nothing with one failure naming it.
            return result["error"].text().find("No matching") != std::string::npos ? Outcome::noWindow
                                                                                   : Outcome::failed;
        }
    }
    return Outcome::done;
}

std::optional<DesktopRect> WlrootsWindowControl::activeScreen() {
    if (!sway_) {
        return std::nullopt;
    }
    const std::optional<Json> outputs = sway_->request(SwayIpc::Message::getOutputs);
    if (!outputs) {
        return std::nullopt;
    }
    for (const Json& output : outputs->items()) {
        if (output["focused"].isTrue() && output["active"].isTrue()) {
            const Json& rect = output["rect"];
            return DesktopRect{static_cast<int>(std::lround(rect["x"].number())),
                               static_cast<int>(std::lround(rect["y"].number())),
                               static_cast<int>(std::lround(rect["width"].number())),
                               static_cast<int>(std::lround(rect["height"].number()))};
        }
    }
    return std::nullopt;
}

}  // namespace tovak::trigger

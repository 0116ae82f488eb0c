#pragma once

#include <functional>
#include <memory>

namespace tovak::app {

// The XEmbed tray of the X screen Qt runs on: present while some program owns its
// _NET_SYSTEM_TRAY_S<n> selection. Main thread.
class XEmbedTray {
  public:
    virtual ~XEmbedTray() = default;
    [[nodiscard]] virtual bool present() const = 0;

    // Follows the tray, calling changed on every change of owner; none where Qt does not run on X11.
    static std::unique_ptr<XEmbedTray> watch(std::function<void()> changed);
};

}  // namespace tovak::app

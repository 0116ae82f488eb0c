#pragma once

#include <string>

#include "monitor/ports/Services.h"

namespace tovak::trigger {

// Asks every top-level X window whose title contains the document's file name to close: through
// the window manager (_NET_CLOSE_WINDOW to the windows of _NET_CLIENT_LIST) when an EWMH window
// manager runs, else by sending each matching child of the root its own WM_DELETE_WINDOW.
// Only windows that take WM_DELETE_WINDOW are asked, so the application decides what closing means
// and nothing is killed. Reaches X11 and XWayland windows, not native Wayland ones. Starts
// nothing; errors are ignored.
class XcbDocumentCloser final : public monitor::DocumentCloser {
  public:
    // The display to reach; empty means the one in $DISPLAY.
    explicit XcbDocumentCloser(std::string display = {}) : display_(std::move(display)) {}

    void closeDocument(const std::string& standardizedPath) override;

    struct Report {
        bool reachedDisplay = false;
        bool throughWindowManager = false;
        int windowsAsked = 0;
    };
    // Asks the windows whose title contains fileName to close; an empty name matches nothing.
    Report closeWindowsTitled(const std::string& fileName) const;

  private:
    std::string display_;
};

}  // namespace tovak::trigger

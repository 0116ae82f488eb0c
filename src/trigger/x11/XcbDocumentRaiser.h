#pragma once

#include <string>

#include "trigger/DocumentRaiser.h"

namespace tovak::trigger {

// Brings forward the top-level X window whose title contains the document's file name (the newest
// when there are several) through the window manager: _NET_ACTIVE_WINDOW as a pager sends it, which
// window managers honour without focus-stealing prevention, restoring the window when minimised.
// X11 and XWayland windows, under an EWMH window manager only.
class XcbDocumentRaiser final : public DocumentRaiser {
  public:
    // The display to reach; empty means the one in $DISPLAY.
    explicit XcbDocumentRaiser(std::string display = {}) : display_(std::move(display)) {}

    bool raiseDocument(const std::string& path) override;
    // False when no window's title contains fileName (an empty name matches nothing) or there is no
    // EWMH window manager to ask.
    [[nodiscard]] bool raiseWindowTitled(const std::string& fileName) const;

  private:
    std::string display_;
};

}  // namespace tovak::trigger

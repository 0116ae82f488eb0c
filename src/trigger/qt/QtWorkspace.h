#pragma once

#include "monitor/ports/Services.h"

namespace tovak::trigger {

// Hands documents to their default application. Main thread.
class QtWorkspace final : public monitor::Workspace {
  public:
    // An opener still running this long after it was asked has handed the document over: the
    // desktop-neutral xdg-open keeps the application in the foreground until it quits.
    static constexpr int answerMilliseconds = 5000;

    // Through QDesktopServices, which only says whether an opener could be started. False for a
    // path that is not a readable file, which no application could open.
    bool open(const std::string& path) override;
    // Runs the desktop's opener (xdg-open, else `gio open`) and reads its exit status: not zero
    // when it found no application for the document (xdg-open: 3 or 4). Never waits for it.
    void openThen(const std::string& path, Outcome outcome) override;
};

}  // namespace tovak::trigger

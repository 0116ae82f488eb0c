#pragma once

#include "monitor/ports/Services.h"

namespace tovak::trigger {

// Hands documents to their default application through the desktop's opener (xdg-open, else
// `gio open`). The opener runs detached: in a session of its own, with the environment Tovak was
// started with, standard input on /dev/null and no other descriptor of Tovak's but standard output
// and error; quitting Tovak leaves it and the application it starts alone. Main thread.
class QtWorkspace final : public monitor::Workspace {
  public:
    // An opener still running this long after it was asked has handed the document over: the
    // desktop-neutral xdg-open keeps the application in the foreground until it quits.
    static constexpr int answerMilliseconds = 5000;

    // Whether the opener could be started; false for a path that is not a readable file, which no
    // application could open.
    bool open(const std::string& path) override;
    // The same, and reads the opener's exit status: not zero when it found no application for the
    // document (xdg-open: 3 or 4). Never waits for it.
    void openThen(const std::string& path, Outcome outcome) override;
};

}  // namespace tovak::trigger

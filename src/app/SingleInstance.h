#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

namespace tovak::app {

// One Tovak per user: the first start listens on a local socket in a folder only its user can
// enter, and later starts ask it to show its window. The folder is $XDG_RUNTIME_DIR when that is
// the user's own and 0700 (as logind makes it), else Tovak's private cache folder (~/.cache/tovak),
// so no other account can put a socket where Tovak looks; and only a peer running as the same user
// counts, either way.
class SingleInstance final : public QObject {
  public:
    explicit SingleInstance(QObject* parent = nullptr) : QObject(parent) {}

    // Where the socket is; empty when there is no private folder for it (every start then runs).
    [[nodiscard]] static QString socketPath();
    // Asks the running instance of this user's to show its window; true when one answered.
    static bool askToShow();
    // Answers later starts with onShow; false when an instance of this user's already answers.
    // When the socket cannot be made Tovak runs all the same, answering nobody.
    bool listen(std::function<void()> onShow);

  private:
    QLocalServer* server_ = nullptr;
};

}  // namespace tovak::app

#include "trigger/qt/QtWorkspace.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace tovak::trigger {

namespace {

// The absolute path of a document an application could open, empty for any other path.
QString openablePath(const std::string& path) {
    const QString localPath = QFile::decodeName(QByteArray::fromStdString(path));
    const QFileInfo info(localPath);
    if (localPath.isEmpty() || !info.isFile() || !info.isReadable()) {
        return {};
    }
    return info.absoluteFilePath();
}

// Starts the desktop's opener for document as described for QtWorkspace; -1 when it could not be.
pid_t spawnOpener(const QString& document) {
    QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    std::vector<std::string> arguments{program.toStdString(), QFile::encodeName(document).toStdString()};
    if (program.isEmpty()) {
        program = QStandardPaths::findExecutable(QStringLiteral("gio"));
        arguments = {program.toStdString(), "open", arguments.back()};
    }
    if (document.isEmpty() || program.isEmpty()) {
        return -1;
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // Signals Tovak ignores or blocks are the opener's own business again.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv.front(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

// How a started opener ended: filled in by the thread that waits for it, read on the main thread
// once wake is readable.
struct OpenerExit {
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::atomic<bool> succeeded{false};
    OpenerExit() = default;
    OpenerExit(const OpenerExit&) = delete;
    OpenerExit& operator=(const OpenerExit&) = delete;
    ~OpenerExit() { ::close(wake); }
};

// Starts the opener and reaps it whenever it ends, on a thread of its own blocked in waitpid (no
// polling), so that no opener is left a zombie; outcome, when given, hears it for the first
// answerMilliseconds only. False when it could not be started.
bool startOpener(const QString& document, const monitor::Workspace::Outcome& outcome) {
    auto exit = std::make_shared<OpenerExit>();
    const pid_t pid = exit->wake >= 0 ? spawnOpener(document) : -1;
    if (pid <= 0) {
        return false;
    }
    std::thread([pid, exit] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        exit->succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(exit->wake, &one, sizeof(one));
    }).detach();
    if (!outcome) {
        return true;
    }
    // Owned by the application, not by the workspace or the opener: quitting Tovak deletes it and
    // stops nothing.
    auto* ended = new QSocketNotifier(exit->wake, QSocketNotifier::Read, QCoreApplication::instance());
    auto* patience = new QTimer(ended);
    patience->setSingleShot(true);
    // A coarse timer may fire 5 % early: "still running after 5 s" means 5 s.
    patience->setTimerType(Qt::PreciseTimer);
    auto answer = std::make_shared<monitor::Workspace::Outcome>(outcome);
    const auto tell = [ended, answer](bool opened) {
        if (*answer) {
            std::exchange(*answer, nullptr)(opened);
        }
        ended->setEnabled(false);
        ended->deleteLater();
    };
    QObject::connect(patience, &QTimer::timeout, ended, [tell] { tell(true); });
    QObject::connect(ended, &QSocketNotifier::activated, ended, [tell, exit] { tell(exit->succeeded); });
    patience->start(QtWorkspace::answerMilliseconds);
    return true;
}

}  // namespace

bool QtWorkspace::open(const std::string& path) {
    return startOpener(openablePath(path), nullptr);
}

void QtWorkspace::openThen(const std::string& path, Outcome outcome) {
    if (!startOpener(openablePath(path), outcome)) {
        outcome(false);
    }
}

}  // namespace tovak::trigger

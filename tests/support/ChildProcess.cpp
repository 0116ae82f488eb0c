#include "support/ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace tovak::testing {

// Null-terminated pointers into strings, which must outlive them.
static std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& text : strings) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

pid_t spawnChild(const std::vector<std::string>& command, const SpawnOptions& options) {
    std::vector<std::string> args = command, env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!options.display || std::strncmp(*entry, "DISPLAY=", 8) != 0) {
            env.emplace_back(*entry);
        }
    }
    if (options.display && !options.display->empty()) {
        env.push_back("DISPLAY=" + *options.display);
    }
    const std::vector<char*> argv = pointers(args), envp = pointers(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, options.stdoutFd, STDOUT_FILENO);
    }
    if (options.quietStderr) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", 01 /* O_WRONLY */, 0);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (options.ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string spawnAndReadLine(std::vector<std::string> command, pid_t& pid) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return {};
    }
    std::replace(command.begin(), command.end(), std::string("{fd}"), std::to_string(fds[1]));
    pid = spawnChild(command, {.stdoutFd = fds[1], .display = "", .quietStderr = true});
    ::close(fds[1]);
    std::string line;
    for (char c = 0; pid > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n';) {
        line += c;
    }
    ::close(fds[0]);
    return line;
}

void stopChild(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    // A group of its own is ended whole; a child in the test's group has no group of that number.
    const bool group = ::getpgid(pid) == pid;
    ::kill(pid, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (group) {
        ::kill(-pid, SIGKILL);
    }
}

}  // namespace tovak::testing

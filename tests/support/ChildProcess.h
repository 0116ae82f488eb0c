#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tovak::testing {

struct SpawnOptions {
    // Where the child's standard output goes; -1 keeps the test's own.
    int stdoutFd = -1;
    // Replaces (or, when empty, removes) DISPLAY in the child's environment; unset keeps it.
    std::optional<std::string> display;
    bool quietStderr = false;
    // A process group of its own, which stopChild ends whole: what the child forked goes with it.
    bool ownGroup = false;
};

// Starts a helper program (an X server, a bus, a stand-in service) found on PATH, without a shell.
// -1 when it could not be started.
pid_t spawnChild(const std::vector<std::string>& command, const SpawnOptions& options = {});

// Starts command with the write end of a pipe in place of "{fd}" (or as its standard output), DISPLAY
// removed and standard error quiet, and reads the first line written there (a bus address, a display
// number); empty when none comes.
std::string spawnAndReadLine(std::vector<std::string> command, pid_t& pid);

// Ends a child started by spawnChild and waits for it: SIGTERM, and SIGKILL when it is still there
// 10 s later (a compositor hung at start may never handle SIGTERM).
void stopChild(pid_t pid);

}  // namespace tovak::testing

#pragma once

#include <ostream>

#include "app/CommandLine.h"

namespace tovak::app {

// The command line's side of the session bus: --status (plain, or one JSON object with --json),
// --pause, --resume, --away, --back and --stop sent to the Tovak already running. What it answers
// goes to out, what went wrong to err in the user's words. Needs a QCoreApplication; returns the
// exit status (exitNotRunning when no Tovak runs on the bus, exitRefused when it said no).
int runControlCommand(const Options& options, std::ostream& out, std::ostream& err);

// Asks the Tovak already running to start watching; false when none answered yes.
bool askRunningToStart();

}  // namespace tovak::app

#pragma once

#include "app/CommandLine.h"

namespace tovak::app {

// The window application: one QApplication, one monitor, one main window.
int runGui(int& argc, char** argv, const Options& options);
// A command for the Tovak already running (--status, --pause...), over the session bus.
int runControl(int& argc, char** argv, const Options& options);

}  // namespace tovak::app

#pragma once

#include "app/CommandLine.h"

namespace tovak::app {

// The window application: one QApplication, one monitor, one main window.
int runGui(int& argc, char** argv, const Options& options);

}  // namespace tovak::app

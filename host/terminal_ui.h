// The interactive host: the pages in an ncurses terminal UI, driven by the main run loop so
// that the pages' timers fire while the user reads.
#pragma once

#include "host/bundle_loader.h"

namespace orv::host {

// Runs until the user quits; returns the exit status.
int run_terminal_ui(const LoadedBundle& bundle);

}  // namespace orv::host

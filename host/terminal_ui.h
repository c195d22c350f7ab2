// The interactive host: the pages in an ncurses terminal UI, driven by the main run loop so
// that the pages' timers fire while the user reads.
#pragma once

#include "host/bundle_loader.h"

namespace orv::host {

// Runs until the user quits; returns the exit status. Without `utf8` the screen is drawn in
// ASCII.
int run_terminal_ui(const LoadedBundle& bundle, bool utf8);

}  // namespace orv::host

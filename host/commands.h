// The commands of the command line. Each drives the plugin's page objects the way the terminal
// UI does (open the list, open a job's page, flip a switch, press a button) and prints the
// result; dialogs go through the command-line presenter.
#pragma once

#include <cstdio>

#include "host/bundle_loader.h"
#include "host/command_line.h"

namespace orv::host {

// Runs one command against the loaded bundle; returns the exit status.
int run_command(const CommandLine& command, const LoadedBundle& bundle, std::FILE* out,
                std::FILE* err);

}  // namespace orv::host

// The command line of orvane: parsing, help text, and the commands, each of which drives the
// plugin's page objects the way the interactive host does.
#pragma once

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "host/bundle_loader.h"

namespace orv::host {

enum class Command {
  Interactive,
  Help,
  List,
  Show,
  Start,
  Stop,
  ShowSystem,
  Refresh,
  Export,
  Import
};

struct CommandLine {
  Command command = Command::Interactive;
  std::string argument;  // LABEL, NAME or on|off
  bool json = false;
  bool yes = false;
};

struct UsageError {
  std::string message;
};

std::variant<CommandLine, UsageError> parse_command_line(const std::vector<std::string>& args);
std::string help_text();

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs one command against the loaded bundle; returns the exit status.
int run_command(const CommandLine& command, const LoadedBundle& bundle, std::FILE* out,
                std::FILE* err);

}  // namespace orv::host

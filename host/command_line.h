// The command line of orvane: its grammar (a command, its argument and the options it allows),
// the help text, the exit statuses, and the one way the host reports an error on it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ipc/messaging_center.h"
#include "platform/result.h"

namespace orv::host {

enum class Command {
  Interactive,
  Help,
  Version,
  List,
  Show,
  Start,
  Stop,
  ShowSystem,
  Refresh,
  Export,
  Import,
  Web,
  Logs
};

struct CommandLine {
  Command command = Command::Interactive;
  std::string argument;  // LABEL, NAME or on|off
  bool json = false;
  bool yes = false;
  std::string listen;                    // web: HOST:PORT; empty: the default
  std::size_t lines = kDefaultLogLines;  // logs -n
  bool follow = false;                   // logs -f
  bool lines_given = false;
};

// The command the arguments ask for; the error's message says what is wrong with them.
Result<CommandLine> parse_command_line(const std::vector<std::string>& args);
std::string help_text();

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoService = 3;  // the control service did not answer

// Writes "orvane: <message>" as one line. The message may carry labels, names and paths from
// outside; their control characters are shown as replacements, never sent to the terminal.
void print_error(std::FILE* err, std::string_view message);

}  // namespace orv::host

#include "host/command_line.h"

#include <charconv>

#include "host/text_grid.h"
#include "platform/ipc/messaging_center.h"

namespace orv::host {

namespace {

struct CommandForm {
  const char* name;
  Command command;
  bool takes_argument;
  bool allows_json;
  bool allows_yes;
};

constexpr CommandForm kCommands[] = {
    {"list", Command::List, false, true, false},
    {"show", Command::Show, true, true, false},
    {"start", Command::Start, true, false, false},
    {"stop", Command::Stop, true, false, true},
    {"show-system", Command::ShowSystem, true, false, false},
    {"refresh", Command::Refresh, false, false, false},
    {"export", Command::Export, true, false, true},
    {"import", Command::Import, true, false, true},
    {"web", Command::Web, false, false, false},
    {"logs", Command::Logs, true, true, false},
};

const CommandForm* command_named(const std::string& name) {
  for (const auto& command : kCommands)
    if (name == command.name) return &command;
  return nullptr;
}

// The command, its argument and its options, checked against what the command allows.
Result<CommandLine> command_with(CommandLine line, const std::vector<std::string>& positional) {
  const CommandForm* command = command_named(positional[0]);
  if (!command) return fail("unknown command " + positional[0]);
  line.command = command->command;
  std::size_t wanted = command->takes_argument ? 2 : 1;
  if (positional.size() < wanted) return fail(positional[0] + " needs an argument");
  if (positional.size() > wanted) return fail("too many arguments for " + positional[0]);
  if (command->takes_argument) line.argument = positional[1];
  if (line.json && !command->allows_json) return fail("--json only goes with list, show and logs");
  if ((line.follow || line.lines_given) && line.command != Command::Logs)
    return fail("-n and -f only go with logs");
  if (line.yes && !command->allows_yes) return fail("--yes only goes with stop, export, import");
  if (!line.listen.empty() && line.command != Command::Web)
    return fail("--listen only goes with web");
  if (line.command == Command::ShowSystem && line.argument != "on" && line.argument != "off")
    return fail("show-system takes on or off");
  return line;
}

// A count of log lines: a whole number from 1 to kMaxLogLines.
Result<std::size_t> log_line_count(const std::string& text) {
  std::size_t count = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end != text.data() + text.size() || count == 0 ||
      count > kMaxLogLines)
    return fail("-n takes a number of lines from 1 to " + std::to_string(kMaxLogLines));
  return count;
}

}  // namespace

Result<CommandLine> parse_command_line(const std::vector<std::string>& args) {
  CommandLine line;
  std::vector<std::string> positional;
  bool options_done = false;
  for (auto it = args.begin(); it != args.end(); ++it) {
    const std::string& arg = *it;
    if (!options_done && (arg == "--help" || arg == "-h")) {
      line.command = Command::Help;
      return line;
    }
    if (!options_done && arg == "--version") {
      line.command = Command::Version;
      return line;
    }
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && arg == "--json") {
      line.json = true;
    } else if (!options_done && (arg == "--yes" || arg == "-y")) {
      line.yes = true;
    } else if (!options_done && arg == "--listen") {
      if (++it == args.end() || it->empty()) return fail("--listen needs HOST:PORT");
      line.listen = *it;
    } else if (!options_done && (arg == "--follow" || arg == "-f")) {
      line.follow = true;
    } else if (!options_done && arg == "-n") {
      if (++it == args.end()) return fail("-n needs a number of lines");
      Result<std::size_t> count = log_line_count(*it);
      if (!count) return fail(count.error());
      line.lines = *count;
      line.lines_given = true;
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      return fail("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty()) {
    if (line.json || line.yes || line.follow || line.lines_given || !line.listen.empty())
      return fail("an option needs a command");
    return line;
  }
  if (positional[0] == "help") {
    line.command = Command::Help;
    return line;
  }
  return command_with(std::move(line), positional);
}

void print_error(std::FILE* err, std::string_view message) {
  std::fprintf(err, "orvane: %s\n", printable(message).c_str());
}

std::string help_text() {
  return R"(usage: orvane [COMMAND] [OPTIONS]

Shows and manages the jobs of the control service through the Orvane settings pages.
Without a command, orvane opens the interactive terminal UI (press ? there for its keys).

Commands:
  list [--json]            the list page's rows: the show-system switch and one row per job
  show LABEL [--json]      the page of the first job row named LABEL
  start LABEL              flip the job page's "Alive" switch on
  stop LABEL [--yes]       flip it off (--yes answers a confirmation with OK)
  show-system on|off       the list page's show-system switch (system jobs are hidden while off)
  refresh                  the list page's refresh action, then the list
  export NAME [--yes]      export the start/stop choices to /var/mobile/Media/NAME
  import NAME [--yes]      stop the jobs that /var/mobile/Media/NAME marks as stopped
  web [--listen HOST:PORT] serve the pages to a browser (default 127.0.0.1, a free port)
  logs LABEL [-n N] [-f] [--json]
                           the job's last N log lines (default 200, at most 10000) with local
                           times; -f, --follow keeps printing new lines until interrupted;
                           --json prints one JSON object per line

Options:
  -h, --help               show this text
  --version                show the version

Dialogs are written to standard error as "alert: <header> | <message>" and "prompt: <message>".
A confirmation is answered OK with --yes, asked on the terminal when standard input is one
(unanswered, it closes with CANCEL after the pages' alert time-out), and answered CANCEL
otherwise; a file-name prompt is answered with NAME.

Exit status: 0 done; 1 the requested change did not happen (refused, declined, failed), or
the service keeps no log for the job; 2 usage error, unknown job label, or a missing or broken
settings bundle; 3 (list, show, show-system, refresh, logs) the control service did not
answer, so the page shows no jobs.
Whenever the control service did not answer, a line on standard error says so and why
(not running, refused, timed out). A NAME or LABEL that starts with "-" goes after "--".

Environment:
  ORVANE_ROOT              root prefix of every fixed path (bundle, settings, media directory)
  ORVANE_RUNTIME_DIR       directory of the control service's socket (default <root>/var/run/orvane)
  ORVANE_IPC_TIMEOUT_MS    how long to wait for the control service (default 30000)
  LANGUAGE, LC_ALL, LC_MESSAGES, LANG
                           the language of the pages' texts
)";
}

}  // namespace orv::host

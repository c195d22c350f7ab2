#include "host/command_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "host/cli_presenter.h"
#include "host/page_text.h"
#include "host/row_view.h"
#include "platform/fs/root.h"
#include "platform/ui/class_registry.h"

namespace orv::host {

namespace {

struct CommandSpec {
  const char* name;
  Command command;
  bool takes_argument;
  bool allows_json;
  bool allows_yes;
};

constexpr CommandSpec kCommands[] = {
    {"list", Command::List, false, true, false},
    {"show", Command::Show, true, true, false},
    {"start", Command::Start, true, false, false},
    {"stop", Command::Stop, true, false, true},
    {"show-system", Command::ShowSystem, true, false, false},
    {"refresh", Command::Refresh, false, false, false},
    {"export", Command::Export, true, false, true},
    {"import", Command::Import, true, false, true},
};

const CommandSpec* command_named(const std::string& name) {
  for (const auto& spec : kCommands)
    if (name == spec.name) return &spec;
  return nullptr;
}

// The selectors through which the host reaches the pages' rows.
constexpr std::string_view kShowSystemSetter = "setShowSys:specifier:";
constexpr std::string_view kAliveSetter = "setAlive:specifier:";
constexpr std::string_view kRefreshAction = "onRefresh";
constexpr std::string_view kExportAction = "onExport";
constexpr std::string_view kImportAction = "onImport";

int output_width(std::FILE* out) {
  winsize size{};
  if (isatty(fileno(out)) && ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col >= 40)
    return size.ws_col;
  return 80;
}

SpecifierPtr find_row(const SpecifierList& rows, auto&& matches) {
  auto it = std::find_if(rows.begin(), rows.end(),
                         [&](const SpecifierPtr& s) { return s && matches(*s); });
  return it == rows.end() ? nullptr : *it;
}

SpecifierPtr row_with_setter(const SpecifierList& rows, std::string_view setter) {
  return find_row(rows, [&](const Specifier& s) { return s.setter() == setter; });
}

SpecifierPtr row_with_action(const SpecifierList& rows, std::string_view action) {
  return find_row(rows, [&](const Specifier& s) { return s.action() == action; });
}

class Session {
 public:
  Session(const CommandLine& command, const LoadedBundle& bundle, std::FILE* out, std::FILE* err)
      : command_(command), bundle_(bundle), out_(out), err_(err) {}

  int run();

 private:
  int list();
  int show();
  int start_or_stop(bool start);
  int show_system();
  int refresh();
  int export_or_import(std::string_view action);

  // The detail page opened from the first job row named like the argument, or null (after
  // saying why on stderr).
  ListControllerPtr open_job_page();
  int print_page(ListController& page, std::string_view title);
  int missing_row(std::string_view what);
  void print(const std::string& text) { std::fputs(text.c_str(), out_); }
  SpecifierList root_rows() { return *current_specifiers(*root_); }

  const CommandLine& command_;
  const LoadedBundle& bundle_;
  std::FILE* out_;
  std::FILE* err_;
  std::shared_ptr<CommandLinePresenter> presenter_;
  ListControllerPtr root_;
};

int Session::run() {
  presenter_ = std::make_shared<CommandLinePresenter>(CommandLinePresenter::Options{
      .confirm = command_.yes ? CommandLinePresenter::Confirm::Yes
                              : CommandLinePresenter::Confirm::AskIfTerminal,
      .prompt_answer = command_.argument,
      .out = err_,
      .in = stdin});
  set_dialog_presenter(presenter_);
  root_ = ClassRegistry::shared().createPage(bundle_.principal_class);
  if (!root_) {
    std::fprintf(err_, "orvane: the page class %s could not be created\n",
                 bundle_.principal_class.c_str());
    return kExitUsage;
  }
  root_->specifiers();  // first display

  switch (command_.command) {
    case Command::List:
      return list();
    case Command::Show:
      return show();
    case Command::Start:
      return start_or_stop(true);
    case Command::Stop:
      return start_or_stop(false);
    case Command::ShowSystem:
      return show_system();
    case Command::Refresh:
      return refresh();
    case Command::Export:
      return export_or_import(kExportAction);
    case Command::Import:
      return export_or_import(kImportAction);
    case Command::Interactive:
    case Command::Help:
      break;
  }
  return kExitUsage;
}

int Session::print_page(ListController& page, std::string_view title) {
  auto rows = current_specifiers(page);
  if (command_.json) {
    auto text = page_json(page.className(), *rows);
    if (!text) {
      std::fprintf(err_, "orvane: the page could not be written as JSON\n");
      return kExitFailed;
    }
    print(*text + "\n");
    return kExitOk;
  }
  auto views = describe_rows(*rows);
  if (&page == root_.get())
    print(format_job_list(views, output_width(out_)));
  else
    print(format_page(title, views, output_width(out_)));
  return kExitOk;
}

int Session::list() {
  return print_page(*root_, bundle_.display_name);
}

int Session::missing_row(std::string_view what) {
  std::fprintf(err_, "orvane: the page has no %.*s\n", static_cast<int>(what.size()), what.data());
  return kExitFailed;
}

ListControllerPtr Session::open_job_page() {
  auto rows = root_rows();
  auto row = find_row(
      rows, [&](const Specifier& s) { return opens_page(s) && s.name() == command_.argument; });
  if (!row) {
    std::string message = "orvane: no job row named \"" + command_.argument + "\"";
    auto show_system = row_with_setter(rows, kShowSystemSetter);
    if (show_system && !show_system->performGetter().read_bool())
      message += " (system jobs are hidden; `orvane show-system on` shows them)";
    std::fprintf(err_, "%s\n", message.c_str());
    return nullptr;
  }
  auto page = ClassRegistry::shared().createPage(row->detailControllerClass());
  if (!page) {
    std::fprintf(err_, "orvane: the page class %s could not be created\n",
                 row->detailControllerClass().c_str());
    return nullptr;
  }
  page->setSpecifier(row);
  page->specifiers();
  return page;
}

int Session::show() {
  auto page = open_job_page();
  if (!page) return kExitUsage;
  return print_page(*page, command_.argument);
}

int Session::start_or_stop(bool start) {
  auto page = open_job_page();
  if (!page) return kExitUsage;
  auto alive = row_with_setter(*current_specifiers(*page), kAliveSetter);
  if (!alive) return missing_row("\"Alive\" switch");
  alive->performSetter(Value(start));

  // The page re-read the job after the flip; its fresh switch tells what really happened.
  auto fresh = row_with_setter(*current_specifiers(*page), kAliveSetter);
  bool running = (fresh ? fresh : alive)->performGetter().read_bool();
  print(command_.argument + ": " + (running ? "running" : "stopped") + "\n");
  return running == start ? kExitOk : kExitFailed;
}

int Session::show_system() {
  auto& value = command_.argument;
  auto row = row_with_setter(root_rows(), kShowSystemSetter);
  if (!row) return missing_row("show-system switch");
  row->performSetter(Value(value == "on"));
  auto fresh = row_with_setter(root_rows(), kShowSystemSetter);
  bool on = (fresh ? fresh : row)->performGetter().read_bool();
  print(std::string("show-system: ") + (on ? "on" : "off") + "\n");
  return kExitOk;
}

int Session::refresh() {
  auto row = row_with_action(root_rows(), kRefreshAction);
  if (!row) return missing_row("refresh button");
  row->performAction();
  return list();
}

int Session::export_or_import(std::string_view action) {
  auto row = row_with_action(root_rows(), action);
  if (!row) return missing_row(action == kExportAction ? "export button" : "import button");
  row->performAction();

  // The page reports its outcome in a result alert after the file-name prompt: success
  // names the file it wrote or read ("<text>:/var/mobile/Media/NAME"), failure does not.
  std::string success_suffix = ":" + std::string(kMediaDirectory) + command_.argument;
  bool prompted = false;
  std::optional<bool> succeeded;
  for (const auto& shown : presenter_->shown()) {
    if (shown.prompt) prompted = true;
    if (!prompted || shown.prompt || shown.confirmation) continue;
    succeeded = shown.header.ends_with(success_suffix);
  }
  if (!succeeded) return kExitOk;
  return *succeeded ? kExitOk : kExitFailed;
}

}  // namespace

std::variant<CommandLine, UsageError> parse_command_line(const std::vector<std::string>& args) {
  CommandLine line;
  std::vector<std::string> positional;
  bool options_done = false;
  for (const auto& arg : args) {
    if (!options_done && (arg == "--help" || arg == "-h")) {
      line.command = Command::Help;
      return line;
    }
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && arg == "--json") {
      line.json = true;
    } else if (!options_done && (arg == "--yes" || arg == "-y")) {
      line.yes = true;
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      return UsageError{"unknown option " + arg};
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty()) {
    if (line.json || line.yes) return UsageError{"an option needs a command"};
    return line;
  }
  if (positional[0] == "help") {
    line.command = Command::Help;
    return line;
  }
  const CommandSpec* spec = command_named(positional[0]);
  if (!spec) return UsageError{"unknown command " + positional[0]};
  line.command = spec->command;
  std::size_t wanted = spec->takes_argument ? 2 : 1;
  if (positional.size() < wanted) return UsageError{positional[0] + " needs an argument"};
  if (positional.size() > wanted) return UsageError{"too many arguments for " + positional[0]};
  if (spec->takes_argument) line.argument = positional[1];
  if (line.json && !spec->allows_json) return UsageError{"--json only goes with list and show"};
  if (line.yes && !spec->allows_yes) return UsageError{"--yes only goes with stop, export, import"};
  if (line.command == Command::ShowSystem && line.argument != "on" && line.argument != "off")
    return UsageError{"show-system takes on or off"};
  return line;
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

Dialogs are written to standard error as "alert: <header> | <message>" and "prompt: <message>".
A confirmation is answered OK with --yes, asked on the terminal when standard input is one,
and answered CANCEL otherwise; a file-name prompt is answered with NAME.

Exit status: 0 done; 1 the requested change did not happen (refused, declined, failed);
2 usage error, unknown job label, or a missing or broken settings bundle.

Environment:
  ORVANE_ROOT              root prefix of every fixed path (bundle, settings, media directory)
  ORVANE_RUNTIME_DIR       directory of the control service's socket (default <root>/var/run/orvane)
  ORVANE_IPC_TIMEOUT_MS    how long to wait for the control service (default 30000)
  LANGUAGE, LC_ALL, LC_MESSAGES, LANG
                           the language of the pages' texts
)";
}

int run_command(const CommandLine& command, const LoadedBundle& bundle, std::FILE* out,
                std::FILE* err) {
  return Session(command, bundle, out, err).run();
}

}  // namespace orv::host

#include "host/commands.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "host/cli_presenter.h"
#include "host/log_command.h"
#include "host/page_selectors.h"
#include "host/page_text.h"
#include "host/row_view.h"
#include "host/service_trouble.h"
#include "host/text_grid.h"
#include "host/transfer_outcome.h"
#include "host/web/web_host.h"
#include "platform/ui/class_registry.h"

namespace orv::host {

namespace {

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

class Session {
 public:
  Session(const CommandLine& command, const LoadedBundle& bundle, std::FILE* out, std::FILE* err)
      : command_(command), bundle_(bundle), out_(out), err_(err) {}

  int run();

 private:
  int run_command();
  int with_service_note(int status);
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
    print_error(err_, "the page class " + bundle_.principal_class + " could not be created");
    return kExitUsage;
  }
  root_->specifiers();  // first display
  return with_service_note(run_command());
}

// A page built while the control service did not answer shows no jobs. Say so; the commands
// that only show fail then, since what they printed is not the machine's state.
int Session::with_service_note(int status) {
  auto trouble = control_service_trouble();
  if (!trouble) return status;
  print_error(err_, "the control service did not answer (" + *trouble + ")");
  switch (command_.command) {
    case Command::List:
    case Command::Show:
    case Command::ShowSystem:
    case Command::Refresh:
      return kExitNoService;
    default:
      return status;
  }
}

int Session::run_command() {
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
    case Command::Logs:
    case Command::Interactive:
    case Command::Help:
    case Command::Version:
    case Command::Web:
      break;
  }
  return kExitUsage;
}

int Session::print_page(ListController& page, std::string_view title) {
  auto rows = current_specifiers(page);
  if (command_.json) {
    auto text = page_json(page.className(), *rows);
    if (!text) {
      print_error(err_, "the page could not be written as JSON");
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
  print_error(err_, "the page has no " + std::string(what));
  return kExitFailed;
}

ListControllerPtr Session::open_job_page() {
  auto rows = root_rows();
  auto row = find_row(
      rows, [&](const Specifier& s) { return opens_page(s) && s.name() == command_.argument; });
  if (!row) {
    // A label cannot be missing from a list that never came.
    if (control_service_trouble()) return nullptr;
    std::string message = "no job row named \"" + command_.argument + "\"";
    auto show_system = row_with_setter(rows, kShowSystemSetter);
    if (show_system && !show_system->performGetter().read_bool())
      message += " (system jobs are hidden; `orvane show-system on` shows them)";
    print_error(err_, message);
    return nullptr;
  }
  auto page = ClassRegistry::shared().createPage(row->detailControllerClass());
  if (!page) {
    print_error(err_, "the page class " + row->detailControllerClass() + " could not be created");
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
  print(printable(command_.argument) + ": " + (running ? "running" : "stopped") + "\n");
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

  return transfer_outcome(presenter_->shown(), command_.argument) == TransferOutcome::Failed
             ? kExitFailed
             : kExitOk;
}

}  // namespace

int run_command(const CommandLine& command, const LoadedBundle& bundle, std::FILE* out,
                std::FILE* err) {
  if (command.command == Command::Web) return run_web_host(bundle, command.listen, out, err);
  // A job's log comes from the service alone; the pages have no part in it.
  if (command.command == Command::Logs) return run_logs(command, out, err);
  return Session(command, bundle, out, err).run();
}

}  // namespace orv::host

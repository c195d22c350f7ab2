// orvane: loads the Orvane settings bundle and shows its pages, either in the terminal UI or,
// given a command, on the command line.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/bundle_loader.h"
#include "host/command_line.h"
#include "host/commands.h"
#include "host/terminal_locale.h"
#include "host/terminal_ui.h"
#include "orvane_version.h"
#include "platform/prefs/user_defaults.h"

namespace {

int usage_error(const std::string& message) {
  orv::host::print_error(stderr, message);
  std::fputs("Try 'orvane --help'.\n", stderr);
  return orv::host::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const bool utf8 = orv::host::use_environment_locale();
  auto command = orv::host::parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
  if (!command) return usage_error(command.error().message);
  if (command->command == orv::host::Command::Help) {
    std::fputs(orv::host::help_text().c_str(), stdout);
    return orv::host::kExitOk;
  }
  if (command->command == orv::host::Command::Version) {
    std::printf("orvane %s\n", orv::kVersion);
    return orv::host::kExitOk;
  }
  bool interactive = command->command == orv::host::Command::Interactive;
  if (interactive && (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)))
    return usage_error("the interactive UI needs a terminal; give a command for scripts");

  auto bundle = orv::host::load_bundle(orv::host::kBundlePath);
  if (!bundle) {
    orv::host::print_error(stderr, bundle.error().message);
    return orv::host::kExitUsage;
  }
  if (interactive) return orv::host::run_terminal_ui(*bundle, utf8);
  int status = orv::host::run_command(*command, *bundle, stdout, stderr);
  if (orv::Status saved = orv::NSUserDefaults::standardUserDefaults()->saveStatus(); !saved) {
    orv::host::print_error(stderr, "a settings change was not saved: " + saved.error().message);
    if (status == orv::host::kExitOk) status = orv::host::kExitFailed;
  }
  std::fflush(stdout);
  return status;
}

// orvane: loads the Orvane settings bundle and shows its pages, either in the terminal UI or,
// given a command, on the command line.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "host/bundle_loader.h"
#include "host/command_line.h"
#include "host/terminal_ui.h"
#include "platform/prefs/user_defaults.h"

namespace {

int usage_error(const std::string& message) {
  std::fprintf(stderr, "orvane: %s\nTry 'orvane --help'.\n", message.c_str());
  return orv::host::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  auto parsed = orv::host::parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
  if (auto* error = std::get_if<orv::host::UsageError>(&parsed)) return usage_error(error->message);
  const auto& command = std::get<orv::host::CommandLine>(parsed);
  if (command.command == orv::host::Command::Help) {
    std::fputs(orv::host::help_text().c_str(), stdout);
    return orv::host::kExitOk;
  }
  bool interactive = command.command == orv::host::Command::Interactive;
  if (interactive && (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)))
    return usage_error("the interactive UI needs a terminal; give a command for scripts");

  auto loaded = orv::host::load_bundle(orv::host::kBundlePath);
  if (auto* failure = std::get_if<orv::host::LoadFailure>(&loaded)) {
    std::fprintf(stderr, "orvane: %s\n", failure->message.c_str());
    return orv::host::kExitUsage;
  }
  const auto& bundle = std::get<orv::host::LoadedBundle>(loaded);
  if (interactive) return orv::host::run_terminal_ui(bundle);
  int status = orv::host::run_command(command, bundle, stdout, stderr);
  if (orv::Status saved = orv::NSUserDefaults::standardUserDefaults()->saveStatus(); !saved) {
    std::fprintf(stderr, "orvane: a settings change was not saved: %s\n",
                 saved.error().message.c_str());
    if (status == orv::host::kExitOk) status = orv::host::kExitFailed;
  }
  std::fflush(stdout);
  return status;
}

#include "host/log_command.h"

#include <chrono>
#include <thread>

#include "host/job_log.h"
#include "platform/ipc/messaging_center.h"

namespace orv::host {

namespace {

int failed(const LogFailure& failure, const CommandLine& command, std::FILE* err) {
  switch (failure.trouble) {
    case LogTrouble::NoAnswer:
      print_error(err, "the control service did not answer (" + failure.words + ")");
      return kExitNoService;
    case LogTrouble::UnknownLabel:
      print_error(err, "no job labelled \"" + command.argument + "\"");
      return kExitUsage;
    case LogTrouble::NoLog:
      break;
  }
  print_error(err, "the control service keeps no log for " + command.argument);
  return kExitFailed;
}

void print_lines(const LogPage& page, bool json, std::FILE* out) {
  for (const LogLine& line : page.lines) {
    const std::string text = (json ? log_line_json(line) : format_log_line(line)) + "\n";
    std::fputs(text.c_str(), out);
  }
  std::fflush(out);
}

}  // namespace

int run_logs(const CommandLine& command, std::FILE* out, std::FILE* err) {
  auto page = fetch_log(command.argument, command.lines);
  if (!page) return failed(page.error(), command, err);
  print_lines(*page, command.json, out);
  std::string cursor = page->cursor;
  while (command.follow) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kLogFollowPollMs));
    page = fetch_log(command.argument, kMaxLogLines, cursor);
    if (!page) return failed(page.error(), command, err);
    print_lines(*page, command.json, out);
    cursor = page->cursor;
  }
  return kExitOk;
}

}  // namespace orv::host

// A job's log as the host reads it from the control service ("log" request) and shows it: on
// the command line and in the terminal UI. Times are shown in the local time zone.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace orv::host {

struct LogLine {
  std::chrono::system_clock::time_point time;
  std::string stream;  // "out", "err" or "service"
  std::string text;
};

struct LogPage {
  std::vector<LogLine> lines;  // oldest first
  std::string cursor;          // for the next fetch's `after`
};

// The service's answers besides a page.
enum class LogTrouble { NoAnswer, UnknownLabel, NoLog };

struct LogFailure {
  LogTrouble trouble;
  std::string words;  // for NoAnswer: why, in the few words service_trouble gives
};

// The last `lines` entries of the job's log, only those after the cursor when one is given.
tl::expected<LogPage, LogFailure> fetch_log(std::string_view label, std::size_t lines,
                                            const std::string& after = {});

// "2026-12-06 21:05:03.250  out      text", the text made printable.
std::string format_log_line(const LogLine& line);
// {"time": "2026-12-06T21:05:03.250+01:00", "stream": ..., "text": ...}
std::string log_line_json(const LogLine& line);

}  // namespace orv::host

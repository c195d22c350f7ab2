// What the control service's request handlers need of whatever manages the jobs: the job
// directories' own supervisor, or the machine's systemd manager. Every method may be called
// from several server threads at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ipc/messaging_center.h"
#include "platform/value/value.h"

namespace orv::service {

// The "status" of a reply: 0 on success, negative on failure; the reason goes to the log.
enum class JobStatus : int {
  Ok = 0,
  UnknownLabel = -2,
  SpawnFailed = -3,
  NoLog = -4,      // the backend keeps no log for this job
  Refused = -5,    // the job is protected from this request
  JobFailed = -6,  // the manager ran the request and it failed
  TimedOut = -7,   // the manager did not finish the request in time
};

enum class LogStream { Out, Err, Service };

struct LogEntry {
  std::chrono::system_clock::time_point time;
  LogStream stream = LogStream::Service;
  std::string text;
};

struct LogQuery {
  static constexpr std::size_t kDefaultLines = kDefaultLogLines;
  static constexpr std::size_t kMaxLines = kMaxLogLines;
  std::string label;
  std::size_t lines = kDefaultLines;  // the last this many entries (after the cursor, if any)
  std::optional<std::string> after;   // a cursor from an earlier page: only newer entries
};

struct LogPage {
  JobStatus status = JobStatus::Ok;
  std::vector<LogEntry> entries;  // oldest first
  std::string cursor;             // names the newest entry given, for the next query's "after"
};

class JobBackend {
 public:
  virtual ~JobBackend() = default;

  // One daemon record per job.
  virtual Array records() const = 0;
  // Starting a running job and stopping a stopped one succeed.
  virtual JobStatus start_job(std::string_view label) = 0;
  virtual JobStatus stop_job(std::string_view label) = 0;
  virtual LogPage read_log(const LogQuery& query) const {
    (void)query;
    return {JobStatus::NoLog, {}, {}};
  }
};

}  // namespace orv::service

// Job property lists in the launchd style: one file per job in the two job directories under
// the root. System jobs live in /System/Library/LaunchDaemons, all others in
// /Library/LaunchDaemons. Program paths, working directories and users in a job file are those
// of the host machine, as launchd takes them; only the job directories are under the root.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/result.h"
#include "platform/value/value.h"

namespace orv::service {

inline constexpr int kSystemJobType = 10;
inline constexpr int kOtherJobType = 0;

struct JobSpec {
  std::string label;
  std::string plist_path;  // logical path of the job file
  int type = kOtherJobType;
  std::optional<std::string> program;
  std::optional<std::vector<std::string>> program_arguments;
  bool run_at_load = false;
  Value keep_alive;  // a boolean or a conditions dictionary, as the file has it (null: absent)
  std::optional<std::string> user_name;
  std::optional<std::string> working_directory;
  std::vector<std::pair<std::string, std::string>> environment;
  // Files under the root that get a copy of the job's standard output and error.
  std::optional<std::string> standard_out_path;
  std::optional<std::string> standard_error_path;
};

// The job described by a decoded job file, or the reason it cannot be used.
Result<JobSpec> parse_job(const Value& root, std::string plist_path, int type);

// Every usable job of both directories, system jobs first, each group ordered by label. Files
// that cannot be read or describe no usable job, and second files for an already seen label,
// are reported on stderr and skipped. Within a directory files are taken in name order, so the
// file that wins a duplicate label does not depend on directory order.
std::vector<JobSpec> load_jobs();

}  // namespace orv::service

// The command line of orvaned.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"

namespace orv::service {

enum class Backend { Jobs, Systemd };

struct Options {
  Backend backend = Backend::Jobs;                // --backend jobs|systemd
  std::string bus = "system";                     // --bus system|user|ADDRESS, for systemd
  std::vector<std::string> protected_units;       // --protect UNIT: never stopped
  std::chrono::milliseconds job_timeout{25'000};  // --job-timeout S: longest wait for a unit's job
  std::optional<std::string> root;                // --root DIR: sets ORVANE_ROOT
  std::optional<std::string> runtime_dir;         // --runtime-dir DIR: sets ORVANE_RUNTIME_DIR
  std::chrono::milliseconds throttle{10'000};
  std::chrono::milliseconds stop_timeout{5'000};
  std::vector<uid_t> allowed_uids;
  std::vector<gid_t> allowed_gids;
  bool help = false;
  bool version = false;
};

// The options, or the usage error.
Result<Options> parse_options(int argc, char** argv);

const char* usage_text();

}  // namespace orv::service

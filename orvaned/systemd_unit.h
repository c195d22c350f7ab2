// What the systemd backend knows of one .service unit, and the daemon record made of it. The
// values come from the manager's unit list, its unit-file list and the unit's properties; any
// that never arrived stay empty and the record leaves them out or reads them as "not running".
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/value/value.h"

namespace orv::service {

struct UnitState {
  std::string name;         // e.g. "ssh.service"
  std::string object_path;  // the unit's object on the manager
  std::string description;
  std::string active_state;  // "active", "inactive", "failed", ...
  std::string fragment_path;
  std::string file_path;  // from the unit-file list, for units the manager has not loaded
  std::string unit_file_state;
  std::string user;
  std::string restart;
  std::uint32_t main_pid = 0;
  std::string exec_path;  // the first ExecStart entry
  std::vector<std::string> exec_argv;
  bool refuse_manual_stop = false;
};

// A unit as the manager's lists name it.
struct ListedUnit {
  std::string name;
  std::string object_path;
  std::string file_path;        // empty for units without a file in the unit-file list
  std::string unit_file_state;  // from the unit-file list
};

// Services, instances included; templates ("name@.service") and other unit types are not.
bool is_listed_unit(std::string_view name);

// The daemon record of the unit; default_user names the manager's own user, for units without
// a User= setting.
Value unit_record(const UnitState& unit, std::string_view default_user);

}  // namespace orv::service

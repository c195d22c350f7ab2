#include "orvaned/systemd_unit.h"

namespace orv::service {

namespace {

constexpr std::string_view kServiceSuffix = ".service";
// The "Type" of a record: vendor units are the system's own, the administrator's are not.
constexpr int kVendorType = 10;
constexpr int kAdministratorType = 0;

bool starts_with_any(std::string_view path, std::initializer_list<std::string_view> prefixes) {
  for (std::string_view prefix : prefixes)
    if (path.starts_with(prefix)) return true;
  return false;
}

// Units without a file, or whose file the manager made (generators, transient units), count
// as the vendor's: nobody configured them by hand.
int unit_type(std::string_view path) {
  if (path.empty() || starts_with_any(path, {"/lib/", "/usr/lib/"})) return kVendorType;
  for (std::string_view made : {"/systemd/generator", "/systemd/transient"})
    if (path.find(made) != std::string_view::npos) return kVendorType;
  return kAdministratorType;
}

bool is_running_state(std::string_view state) {
  return state == "active" || state == "reloading";
}

}  // namespace

bool is_listed_unit(std::string_view name) {
  if (!name.ends_with(kServiceSuffix)) return false;
  std::string_view stem = name.substr(0, name.size() - kServiceSuffix.size());
  return !stem.empty() && !stem.ends_with('@');
}

Value unit_record(const UnitState& unit, std::string_view default_user) {
  Dictionary record;
  record.set("Label", unit.name);
  const bool running = is_running_state(unit.active_state);
  record.set("Pid", running ? static_cast<std::int64_t>(unit.main_pid) : std::int64_t{-1});
  const std::string& path = unit.fragment_path.empty() ? unit.file_path : unit.fragment_path;
  record.set("Type", unit_type(path));
  if (!path.empty()) record.set("Plist", path);
  if (!unit.exec_path.empty()) {
    record.set("ProgramArguments", Array(unit.exec_argv.begin(), unit.exec_argv.end()));
    record.set("Program", unit.exec_path);
  }
  record.set("User", unit.user.empty() ? std::string(default_user) : unit.user);
  record.set("RunAtLoad",
             unit.unit_file_state == "enabled" || unit.unit_file_state == "enabled-runtime");
  record.set("KeepAlive", !unit.restart.empty() && unit.restart != "no");
  if (!unit.description.empty()) record.set("Description", unit.description);
  return Value(std::move(record));
}

}  // namespace orv::service

#include "orvaned/systemd_replies.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string_view>
#include <unordered_map>

namespace orv::service {

namespace {

// Each reader consumes the variant's contents (the caller has entered the variant and checked
// its signature); a negative result is a malformed message.
using PropertyReader = std::function<int(sd_bus_message*, UnitState&)>;

struct Property {
  const char* signature;
  PropertyReader read;
};

int read_string(sd_bus_message* message, std::string& out) {
  const char* text = nullptr;
  int r = sd_bus_message_read_basic(message, 's', &text);
  if (r > 0) out = text;
  return r;
}

PropertyReader string_into(std::string UnitState::*field) {
  return [field](sd_bus_message* m, UnitState& unit) { return read_string(m, unit.*field); };
}

int read_bool(sd_bus_message* message, bool& out) {
  int value = 0;
  int r = sd_bus_message_read_basic(message, 'b', &value);
  if (r > 0) out = value != 0;
  return r;
}

int read_strings(sd_bus_message* message, std::vector<std::string>& out) {
  int r = sd_bus_message_enter_container(message, 'a', "s");
  if (r <= 0) return r;
  out.clear();
  const char* text = nullptr;
  while ((r = sd_bus_message_read_basic(message, 's', &text)) > 0)
    out.emplace_back(text);
  if (r < 0) return r;
  return sd_bus_message_exit_container(message);
}

// ExecStart: a(sasbttttuii), of which the first entry's path and argv.
int read_exec_start(sd_bus_message* message, UnitState& unit) {
  int r = sd_bus_message_enter_container(message, 'a', "(sasbttttuii)");
  if (r <= 0) return r;
  unit.exec_path.clear();
  unit.exec_argv.clear();
  r = sd_bus_message_enter_container(message, 'r', "sasbttttuii");
  if (r > 0) {
    if ((r = read_string(message, unit.exec_path)) <= 0) return r < 0 ? r : -EBADMSG;
    if ((r = read_strings(message, unit.exec_argv)) <= 0) return r < 0 ? r : -EBADMSG;
    if ((r = sd_bus_message_skip(message, "bttttuii")) < 0) return r;
    if ((r = sd_bus_message_exit_container(message)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(message);  // skips the other entries
}

const std::unordered_map<std::string_view, Property>& known_properties() {
  static const std::unordered_map<std::string_view, Property> properties = {
      {"Description", {"s", string_into(&UnitState::description)}},
      {"ActiveState", {"s", string_into(&UnitState::active_state)}},
      {"FragmentPath", {"s", string_into(&UnitState::fragment_path)}},
      {"UnitFileState", {"s", string_into(&UnitState::unit_file_state)}},
      {"User", {"s", string_into(&UnitState::user)}},
      {"Restart", {"s", string_into(&UnitState::restart)}},
      {"RefuseManualStop",
       {"b", [](sd_bus_message* m, UnitState& u) { return read_bool(m, u.refuse_manual_stop); }}},
      {"MainPID",
       {"u", [](sd_bus_message* m,
                UnitState& u) { return sd_bus_message_read_basic(m, 'u', &u.main_pid); }}},
      {"ExecStart", {"a(sasbttttuii)", read_exec_start}},
  };
  return properties;
}

// One {sv} entry: reads the value when the property is known and of its documented type,
// else skips it.
int read_entry(sd_bus_message* message, UnitState& unit) {
  const char* name = nullptr;
  int r = sd_bus_message_read_basic(message, 's', &name);
  if (r <= 0) return r < 0 ? r : -EBADMSG;
  const auto& properties = known_properties();
  auto known = properties.find(name);
  const char* contents = nullptr;
  if (known != properties.end() && sd_bus_message_peek_type(message, nullptr, &contents) > 0 &&
      contents && std::string_view(contents) == known->second.signature) {
    if ((r = sd_bus_message_enter_container(message, 'v', contents)) <= 0) return -EBADMSG;
    if ((r = known->second.read(message, unit)) < 0) return r;
    return sd_bus_message_exit_container(message);
  }
  return sd_bus_message_skip(message, "v");
}

}  // namespace

std::string unit_object_path(const std::string& name) {
  char* path = nullptr;
  if (sd_bus_path_encode(kUnitPathPrefix, name.c_str(), &path) < 0) return {};
  std::string out = path;
  std::free(path);
  return out;
}

bool read_unit_list(sd_bus_message* reply, std::vector<ListedUnit>& out) {
  if (sd_bus_message_enter_container(reply, 'a', "(ssssssouso)") <= 0) return false;
  const char *name, *description, *load, *active, *sub, *following, *path, *job_type, *job_path;
  std::uint32_t job_id = 0;
  int r;
  while ((r = sd_bus_message_read(reply, "(ssssssouso)", &name, &description, &load, &active, &sub,
                                  &following, &path, &job_id, &job_type, &job_path)) > 0)
    if (is_listed_unit(name)) out.push_back({name, path, {}, {}});
  return r == 0;
}

bool read_unit_file_list(sd_bus_message* reply, std::map<std::string, ListedUnit>& out) {
  if (sd_bus_message_enter_container(reply, 'a', "(ss)") <= 0) return false;
  const char *path, *state;
  int r;
  while ((r = sd_bus_message_read(reply, "(ss)", &path, &state)) > 0) {
    std::string name = std::filesystem::path(path).filename();
    // An alias names a unit listed under its own name already.
    if (is_listed_unit(name) && std::string_view(state) != "alias")
      out[name] = {name, unit_object_path(name), path, state};
  }
  return r == 0;
}

bool invalidates_a_read_property(sd_bus_message* signal) {
  if (sd_bus_message_enter_container(signal, 'a', "s") <= 0) return true;
  const char* name = nullptr;
  int r;
  while ((r = sd_bus_message_read_basic(signal, 's', &name)) > 0)
    if (is_read_property(name)) return true;
  return r < 0;
}

bool is_read_property(std::string_view name) {
  return known_properties().contains(name);
}

bool read_unit_properties(sd_bus_message* message, UnitState& unit) {
  if (sd_bus_message_enter_container(message, 'a', "{sv}") <= 0) return false;
  int r;
  while ((r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
    if (read_entry(message, unit) < 0) return false;
    if (sd_bus_message_exit_container(message) < 0) return false;
  }
  return r == 0 && sd_bus_message_exit_container(message) >= 0;
}

}  // namespace orv::service

// The units of the systemd backend and their records, kept by the bus thread and read by any
// server thread: "listAll" copies the records under a short lock and never waits on the bus.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "orvaned/systemd_unit.h"
#include "platform/value/value.h"

namespace orv::service {

class UnitCache {
 public:
  void set_default_user(std::string user);
  // Makes the listed units the cache's units: keeps what is known of those it had, forgets
  // the others.
  void replace(const std::vector<ListedUnit>& units);
  // Adds a unit the manager has just loaded; false when it was known already.
  bool add(const std::string& name, const std::string& object_path);
  // A unit the manager unloaded: one with a unit file stays, as stopped.
  void unloaded(const std::string& name);
  // Changes the unit of that object path; false when there is none.
  bool update(const std::string& object_path, const std::function<void(UnitState&)>& change);

  Array records() const;
  std::optional<UnitState> find(std::string_view name) const;

 private:
  struct Entry {
    UnitState state;
    Value record;
  };
  Entry* find_path_locked(const std::string& object_path);
  void refresh_locked(Entry& entry) { entry.record = unit_record(entry.state, default_user_); }

  mutable std::mutex mutex_;
  std::string default_user_ = "root";
  std::map<std::string, Entry, std::less<>> units_;   // by name
  std::map<std::string, std::string> names_by_path_;  // object path -> name
};

}  // namespace orv::service

// Which units the service never stops, whatever a client asks: its own unit, the message bus,
// the journal and the login manager (without them the machine cannot be reached or repaired),
// units that refuse a manual stop, and the units the administrator names.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "orvaned/systemd_unit.h"

namespace orv::service {

class StopProtection {
 public:
  explicit StopProtection(const std::vector<std::string>& named_units);

  // The object path of the unit the service itself runs in, once known.
  void set_own_unit(std::string object_path) { own_unit_path_ = std::move(object_path); }
  // Why the unit must not be stopped, or nullopt when it may be.
  std::optional<std::string> refusal(const UnitState& unit) const;

 private:
  std::set<std::string, std::less<>> protected_;
  std::string own_unit_path_;
};

}  // namespace orv::service

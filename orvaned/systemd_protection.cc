#include "orvaned/systemd_protection.h"

namespace orv::service {

namespace {

constexpr const char* kMachineUnits[] = {"dbus.service", "dbus-broker.service",
                                         "systemd-journald.service", "systemd-logind.service"};

}  // namespace

StopProtection::StopProtection(const std::vector<std::string>& named_units)
    : protected_(named_units.begin(), named_units.end()) {
  protected_.insert(std::begin(kMachineUnits), std::end(kMachineUnits));
}

std::optional<std::string> StopProtection::refusal(const UnitState& unit) const {
  if (protected_.contains(unit.name)) return "a protected unit";
  if (!own_unit_path_.empty() && unit.object_path == own_unit_path_)
    return "the service's own unit";
  if (unit.refuse_manual_stop) return "a unit that refuses a manual stop";
  return std::nullopt;
}

}  // namespace orv::service

// Reads the properties of a unit, as GetAll replies and PropertiesChanged signals carry them
// (an a{sv} dictionary), into its UnitState. Only the properties the record needs are read;
// one whose value has another type than the manager documents is left as it was, and a
// malformed message ends the reading without harm to what was read before.
#pragma once

#include <systemd/sd-bus.h>

#include <string_view>

#include "orvaned/systemd_unit.h"

namespace orv::service {

// The interfaces whose properties a unit's record needs.
inline constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
inline constexpr const char* kServiceInterface = "org.freedesktop.systemd1.Service";

// Whether the record needs the property of that name.
bool is_read_property(std::string_view name);

// Reads an a{sv} at the message's read position; false when the message is malformed.
bool read_unit_properties(sd_bus_message* message, UnitState& unit);

}  // namespace orv::service

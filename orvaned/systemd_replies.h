// Reads the systemd manager's replies and signals: its unit and unit-file lists, and the
// properties of a unit, as GetAll replies and PropertiesChanged signals carry them (an a{sv}
// dictionary), into its UnitState. Only the properties the record needs are read;
// one whose value has another type than the manager documents is left as it was, and a
// malformed message ends the reading without harm to what was read before.
#pragma once

#include <systemd/sd-bus.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "orvaned/systemd_unit.h"

namespace orv::service {

// The interfaces whose properties a unit's record needs.
inline constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
inline constexpr const char* kServiceInterface = "org.freedesktop.systemd1.Service";

// Where the manager's unit objects live.
inline constexpr const char* kUnitPathPrefix = "/org/freedesktop/systemd1/unit";

// The object path the manager gives the unit of that name.
std::string unit_object_path(const std::string& name);
// The listed units of a ListUnits reply (a(ssssssouso)); false when it is malformed.
bool read_unit_list(sd_bus_message* reply, std::vector<ListedUnit>& out);
// The listed units of a ListUnitFiles reply (a(ss)), by name, aliases left out; false when it
// is malformed.
bool read_unit_file_list(sd_bus_message* reply, std::map<std::string, ListedUnit>& out);
// Reads the invalidated names of a PropertiesChanged signal (as); true when one is needed, or
// when a malformed list leaves that unknown.
bool invalidates_a_read_property(sd_bus_message* signal);

// Whether the record needs the property of that name.
bool is_read_property(std::string_view name);

// Reads an a{sv} at the message's read position; false when the message is malformed.
bool read_unit_properties(sd_bus_message* message, UnitState& unit);

}  // namespace orv::service

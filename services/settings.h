// The plugin's settings: one dictionary stored under "velnor.orvane" in the host's standard
// user defaults. Keys in use: "show_sys" (boolean) and "usr_pol" (job label -> boolean).
#pragma once

#include <string_view>

#include "platform/value/value.h"

// Obtains the standard user defaults once and holds them for the life of the process.
void initPref();

// The stored value of key, or default_value when the key has none (the default is not
// stored). A stored false is a value. The first read creates an empty settings dictionary.
orv::Value getPref(std::string_view key, const orv::Value& default_value);

// Stores value under key, keeping every other key of the settings dictionary; a null value
// removes the key.
void setPref(std::string_view key, const orv::Value& value);

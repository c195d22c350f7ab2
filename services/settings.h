// The plugin's settings: one dictionary stored under "velnor.orvane" in the host's standard
// user defaults.
//
// Every change is applied to the settings as stored at the moment of the write, under the
// defaults' writers' lock, so two processes changing different keys, or different entries of
// one table, both keep their change. A change that could not be written is reported by the
// defaults' saveStatus() (platform/prefs/user_defaults.h), where the host looks for it.
#pragma once

#include <string_view>

#include "platform/value/value.h"

// The keys of the settings dictionary.
inline constexpr std::string_view kShowSystemKey = "show_sys";  // boolean
inline constexpr std::string_view kUserPolicyKey = "usr_pol";   // job label -> boolean

// Obtains the standard user defaults once and holds them for the life of the process.
void initPref();

// The stored value of key, or default_value when the key has none (the default is not
// stored). A stored false is a value. The first read creates an empty settings dictionary.
orv::Value getPref(std::string_view key, const orv::Value& default_value);

// Stores value under key, keeping every other key of the settings dictionary; a null value
// removes the key.
void setPref(std::string_view key, const orv::Value& value);

// Stores value under entry of the table (a dictionary) under key, keeping every other entry;
// a value there that is not a dictionary counts as an empty table.
void setPrefEntry(std::string_view key, std::string_view entry, const orv::Value& value);

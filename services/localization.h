// Translation of dollar keys ("$STATUS") into the user's language from the strings tables of
// the plugin's bundle. Anything that does not begin with "$" passes through unchanged; a key
// without a translation (or with no bundle at all) shows as itself, "$" included.
#pragma once

#include <string>
#include <string_view>

#include "platform/value/value.h"

std::string localize(std::string_view key);
std::string localize(const char* key);
std::string localize(const std::string& key);

// The same for a platform value: null gives null, a string is translated as above, and any
// other kind of value is returned unchanged.
orv::Value localize(const orv::Value& key);

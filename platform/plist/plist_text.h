// Text forms of property-list dates and data, as the XML form writes them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/value/value.h"

namespace orv::plist_detail {

// "2001-01-01T00:00:00Z" (UTC, whole seconds) to seconds since 2001-01-01.
std::optional<Date> parse_iso8601(std::string_view text);
// The same form, seconds rounded down; nullopt outside the years 0000 to 9999 or for NaN.
std::optional<std::string> format_iso8601(Date date);

// Base64 with XML whitespace allowed anywhere; nullopt for other characters or bad padding.
std::optional<Bytes> decode_base64(std::string_view text);
std::string encode_base64(const Bytes& data);

}  // namespace orv::plist_detail

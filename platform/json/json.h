// JSON text <-> Value. Both directions accept only a dictionary or an array at the top level.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"
#include "platform/value/value.h"

namespace orv {

// Nesting deeper than this many containers is refused, by the parser and by the writer alike,
// so that every tree the writer accepts reads back.
inline constexpr std::size_t kMaxJsonDepth = 512;

// Parses JSON text whose top level is an object or an array, or says why it is refused
// (malformed text, trailing garbage, invalid UTF-8, a lone surrogate escape, nesting deeper
// than kMaxJsonDepth, a number outside the range of a double such as 1e400). Integers stay
// integers (above INT64_MAX: unsigned integer; beyond 64 bits: the nearest real), JSON null
// becomes a null Value, and keys keep their order. A key that appears twice in one object keeps
// its first position and takes the last value.
Result<Value> parse_json(std::string_view text);

// Compact UTF-8 JSON (no spaces, keys in insertion order); the top level must be a dictionary
// or an array; nullopt when the tree holds anything outside the JSON model (data, date), a
// non-finite real, invalid UTF-8 in a string or key, or nesting deeper than kMaxJsonDepth.
// Reals always print so that they read back as reals ("2.0", "1e+300").
std::optional<std::string> write_json(const Value& root);

}  // namespace orv

// The binary property-list form ("bplist00"), read and written straight into and out of Value.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/result.h"
#include "platform/value/value.h"

namespace orv {

// Decodes a bplist00 document, or says why it is refused: a bad trailer, an offset or reference
// outside the file, a cycle, nesting deeper than 512, a non-string dictionary key, a duplicate
// key, invalid UTF-16, or an object kind we do not read (null/fill, UID, sets).
Result<Value> decode_binary_plist(std::span<const std::uint8_t> bytes);
// Encodes a value tree as bplist00; nullopt when the tree has no such form: a null, text that is
// not UTF-8, or nesting deeper than 512.
std::optional<Bytes> encode_binary_plist(const Value& root);

}  // namespace orv

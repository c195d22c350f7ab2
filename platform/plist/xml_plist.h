// The XML property-list form, read with expat and written in the customary layout.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"
#include "platform/value/value.h"

namespace orv {

// Decodes an XML property list, or says why it is refused: malformed XML, unknown elements,
// bad numbers, dates or base64, duplicate dictionary keys, entity declarations, or nesting
// deeper than 512.
Result<Value> decode_xml_plist(std::string_view text);
// The usual <?xml version="1.0" encoding="UTF-8"?><!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST
// 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd"><plist version="1.0">...</plist>
// shape, tab-indented; nullopt for a null inside.
std::optional<std::string> encode_xml_plist(const Value& root);

}  // namespace orv

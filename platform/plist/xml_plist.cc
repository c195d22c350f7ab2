#include "platform/plist/xml_plist.h"

namespace orv {

std::optional<Value> decode_xml_plist(std::string_view) {
  return std::nullopt;
}
std::optional<std::string> encode_xml_plist(const Value&) {
  return std::nullopt;
}

}  // namespace orv

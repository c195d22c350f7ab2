// Decodes arbitrary text as an XML property list; whatever decodes must encode, and the
// encoding must decode to the same tree (compared on the re-encoded text, NaN-proof).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/plist/xml_plist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const orv::Result<orv::Value> first = orv::decode_xml_plist(text);
  if (!first) return 0;
  const std::optional<std::string> encoded = orv::encode_xml_plist(*first);
  if (!encoded) std::abort();
  const orv::Result<orv::Value> second = orv::decode_xml_plist(*encoded);
  if (!second || orv::encode_xml_plist(*second) != encoded) std::abort();
  return 0;
}

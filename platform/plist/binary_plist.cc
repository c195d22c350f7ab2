#include "platform/plist/binary_plist.h"

namespace orv {

std::optional<Value> decode_binary_plist(std::span<const std::uint8_t>) {
  return std::nullopt;
}
std::optional<Bytes> encode_binary_plist(const Value&) {
  return std::nullopt;
}

}  // namespace orv

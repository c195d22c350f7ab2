#include "platform/plist/plist_file.h"

namespace orv {

std::optional<Value> decode_plist(std::span<const std::uint8_t>) {
  return std::nullopt;
}
std::optional<Value> read_plist_file(const std::filesystem::path&) {
  return std::nullopt;
}
Value dictionary_with_contents_of_file(std::string_view) {
  return Value();
}
bool write_plist_file_atomically(const std::filesystem::path&, const Value&, PlistFormat) {
  return false;
}

}  // namespace orv

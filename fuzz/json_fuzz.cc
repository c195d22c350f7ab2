// Properties: any text that parses prints, and the printed text parses back to an equal tree
// and prints identically; and any bytes, as a string, print exactly when they are valid UTF-8,
// and read back unchanged.
#include <simdjson.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/json/json.h"

namespace {

void check_text(std::string_view text) {
  orv::Result<orv::Value> value = orv::parse_json(text);
  if (!value) return;
  std::optional<std::string> printed = orv::write_json(*value);
  if (!printed) std::abort();
  orv::Result<orv::Value> again = orv::parse_json(*printed);
  if (!again || !(*again == *value)) std::abort();
  std::optional<std::string> printed_again = orv::write_json(*again);
  if (!printed_again || *printed_again != *printed) std::abort();
}

void check_string(std::string_view bytes) {
  const orv::Value tree(orv::Array{orv::Value(bytes)});
  std::optional<std::string> printed = orv::write_json(tree);
  if (printed.has_value() != simdjson::validate_utf8(bytes.data(), bytes.size())) std::abort();
  if (printed && !(orv::parse_json(*printed) == tree)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  check_text(text);
  check_string(text);
  return 0;
}

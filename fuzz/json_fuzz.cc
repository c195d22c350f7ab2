// Property: any text that parses prints, and the printed text parses back to an equal tree
// and prints identically.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/json/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  orv::Result<orv::Value> value = orv::parse_json(text);
  if (!value) return 0;
  std::optional<std::string> printed = orv::write_json(*value);
  if (!printed) std::abort();
  orv::Result<orv::Value> again = orv::parse_json(*printed);
  if (!again || !(*again == *value)) std::abort();
  std::optional<std::string> printed_again = orv::write_json(*again);
  if (!printed_again || *printed_again != *printed) std::abort();
  return 0;
}

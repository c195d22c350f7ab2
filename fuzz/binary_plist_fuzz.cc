// Decodes arbitrary bytes as a binary property list; whatever decodes must encode, and the
// encoding must decode to the same tree. Equality is checked on the re-encoded bytes, which
// also holds for NaN reals (a NaN is never == itself).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/plist/binary_plist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const orv::Result<orv::Value> first = orv::decode_binary_plist({data, size});
  if (!first) return 0;
  const std::optional<orv::Bytes> encoded = orv::encode_binary_plist(*first);
  if (!encoded) std::abort();
  const orv::Result<orv::Value> second = orv::decode_binary_plist(*encoded);
  if (!second || orv::encode_binary_plist(*second) != encoded) std::abort();
  return 0;
}

// A property list holding every kind of value, shared by the codec and peer tests.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "tests/support/test_support.h"

namespace orv::test {

inline Value plist_sample() {
  Bytes all_bytes(256);
  for (int i = 0; i < 256; ++i)
    all_bytes[i] = static_cast<std::uint8_t>(i);
  return Dictionary{
      {"string", "hello <&> world"},
      {"empty", ""},
      {"unicode", "h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9F\x98\x80"},  // héllo ✓ 😀
      {"int", 42},
      {"negative", -1},
      {"int64_min", std::numeric_limits<std::int64_t>::min()},
      {"int64_max", std::numeric_limits<std::int64_t>::max()},
      {"uint64_max", Value::unsigned_integer(std::numeric_limits<std::uint64_t>::max())},
      {"wide", std::int64_t{1} << 40},
      {"real", 3.25},
      {"tiny", -1e-300},
      {"date", Date{604672496}},  // 2020-02-29T12:34:56Z
      {"data", Value::data(all_bytes)},
      {"no_data", Value::data({})},
      {"yes", true},
      {"no", false},
      {"array", Array{1, "two", Array{}, Dictionary{}}},
      {"nested", Dictionary{{"b", Dictionary{{"a", Array{Dictionary{{"c", 1}}}}}}}},
  };
}

}  // namespace orv::test

#include "platform/value/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using orv::Array;
using orv::Dictionary;
using orv::Value;

TEST(ValueReaders, Int32FollowsTheMissingValueRules) {
  EXPECT_EQ(Value().read_int32(), 0);
  EXPECT_EQ(Value(true).read_int32(), 1);
  EXPECT_EQ(Value(false).read_int32(), 0);
  EXPECT_EQ(Value(-7.9).read_int32(), -7);
  EXPECT_EQ(Value(std::nan("")).read_int32(), 0);
  EXPECT_EQ(Value(1e300).read_int32(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(Value(std::int64_t{0x1'0000'0005}).read_int32(), 5);  // keeps the low 32 bits
  EXPECT_EQ(Value(std::int64_t{0xFFFF'FFFF}).read_int32(), -1);
  EXPECT_EQ(Value("12").read_int32(), 0);  // a string is not a number
  EXPECT_EQ(Value(Array{1}).read_int32(), 0);
}

TEST(ValueContainers, DictionaryKeepsInsertionOrderAndUniqueKeysAtEverySize) {
  for (int n : {3, 11, 12, 13, 200}) {
    Dictionary d;
    for (int i = 0; i < n; ++i)
      d.set("k" + std::to_string(i), i);
    d.set("k1", 100);  // replacing keeps the position
    EXPECT_FALSE(d.add("k0", 0));
    ASSERT_EQ(d.size(), static_cast<size_t>(n));
    EXPECT_EQ(d.entry(1).first, "k1");
    EXPECT_EQ(d.get("k1").read_int32(), 100);
    EXPECT_EQ(d.get("k" + std::to_string(n - 1)).read_int32(), n - 1);
    EXPECT_TRUE(d.remove("k0"));
    EXPECT_FALSE(d.contains("k0"));
    EXPECT_EQ(d.entry(0).first, "k1");
    EXPECT_EQ(d.get("k" + std::to_string(n - 1)).read_int32(), n - 1);
    EXPECT_TRUE(d.get("missing").is_null());
  }
}

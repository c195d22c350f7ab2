#include "platform/json/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "services/json_text.h"
#include "tests/support/test_support.h"

namespace {

using orv::Array;
using orv::Dictionary;
using orv::Value;

std::string text_of(const Value& object) {
  Value text = ns_2_json(object);
  EXPECT_TRUE(text.is_string());
  return text.as_string();
}

Value parsed(std::string_view text) {
  return json_2_ns(Value(text));
}

std::string nested_arrays(std::size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

// depth arrays, each holding the next; the innermost holds innermost.
Value nested_array_value(std::size_t depth, Array innermost = {}) {
  Value v = Value(std::move(innermost));
  for (std::size_t i = 1; i < depth; ++i)
    v = Value(Array{v});
  return v;
}

// Long texts with escapes in every few bytes, across the writer's chunks, are in the JSON fuzz
// corpus, which every test build replays.
TEST(JsonWrite, ProducesCompactTextInInsertionOrderRealsAsRealsAndMinimalEscapes) {
  EXPECT_EQ(text_of(Value(Dictionary{})), "{}");
  EXPECT_EQ(text_of(Value(Dictionary{{"z", 1}, {"a", nullptr}, {"m", Value(Array{false, -7})}})),
            R"({"z":1,"a":null,"m":[false,-7]})");
  EXPECT_EQ(text_of(Value(Array{Value::unsigned_integer(18446744073709551615u),
                                Value(std::numeric_limits<std::int64_t>::min())})),
            "[18446744073709551615,-9223372036854775808]");
  // Reals print as reals, and only what JSON requires is escaped.
  EXPECT_EQ(text_of(Value(Array{2.0, 0.5, 1e300, 5e-324})), "[2.0,0.5,1e+300,5e-324]");
  Value back = parsed(text_of(Value(Array{2.0, -0.0})));
  EXPECT_TRUE(back.as_array()[0].is_real());
  EXPECT_TRUE(std::signbit(*back.as_array()[1].if_real()));
  EXPECT_EQ(
      text_of(Value(Array{Value("q\"b\\s/\n\r\t\b\f\x01\x1f"), Value(std::string("a\0b", 3))})),
      R"(["q\"b\\s/\n\r\t\b\f\u0001\u001f","a\u0000b"])");
}

TEST(JsonWrite, RefusesWhatJsonCannotHold) {
  // Scalars at the top, data, dates, NaN, infinity, bad UTF-8 (also an encoded surrogate).
  int case_number = 0;
  for (const Value& v :
       {Value(), Value("top"), Value(3), Value(true), Value(Array{Value::data({1})}),
        Value(Dictionary{{"when", Value(orv::Date{3.5})}}), Value(Array{std::nan("")}),
        Value(Array{-std::numeric_limits<double>::infinity()}),
        Value(Array{Value("bad \xff byte")}), Value(Dictionary{{"\xc3", 1}}),
        Value(Array{Value("\xed\xa0\x80")})}) {
    ++case_number;
    EXPECT_TRUE(ns_2_json(v).is_null()) << "case " << case_number;
  }
}

TEST(JsonRead, KeepsKindsOrderAndNulls) {
  Value v = parsed(R"({"b":1,"a":[true,null,-2.5,"s"],"c":{}})");
  EXPECT_EQ(
      v, Value(Dictionary{{"b", 1}, {"a", Array{true, nullptr, -2.5, "s"}}, {"c", Dictionary{}}}));
  EXPECT_EQ(orv::test::keys_of(v), (std::vector<std::string>{"b", "a", "c"}));
  // A repeated key keeps its first position and takes the last value.
  Value dup = parsed(R"({"k":1,"x":0,"k":2})");
  EXPECT_EQ(dup, Value(Dictionary{{"k", 2}, {"x", 0}}));
  EXPECT_EQ(dup.as_dictionary().entry(0).first, "k");
  EXPECT_EQ(parsed(R"(["\ud83d\ude42\u00e9"])"), Value(Array{Value("🙂é")}));
}

TEST(JsonRead, ReadsIntegersBeyondSignedRange) {
  Value v = parsed("[9223372036854775807,9223372036854775808,18446744073709551615,-0]");
  EXPECT_EQ(v, Value(Array{Value(std::numeric_limits<std::int64_t>::max()),
                           Value::unsigned_integer(9223372036854775808u),
                           Value::unsigned_integer(18446744073709551615u), Value(0)}));
  EXPECT_EQ(parsed("[18446744073709551616,-9223372036854775809]"),
            Value(Array{18446744073709551616.0, -9223372036854775809.0}));
  // Reading big integers as reals must not make anything else acceptable.
  EXPECT_TRUE(parsed("[018446744073709551616]").is_null());
  EXPECT_TRUE(parsed("[1e400]").is_null());
}

// Beside the JSON checker's failures (JsonSharedData): what that suite leaves out.
TEST(JsonRead, RefusesEveryMalformedInput) {
  EXPECT_TRUE(json_2_ns(Value(5)).is_null());
  for (const char* text :
       {"1", "true", "null", "", "   ", "[\"\\ud800\"]", "[\"\\udc00\"]", "[\"\\ud800\\u0041\"]",
        "[\"\xff\"]", "[\"\xed\xa0\x80\"]", "[NaN]", "[Infinity]", "[.5]", "[1.]"})
    EXPECT_TRUE(parsed(text).is_null()) << text;
  EXPECT_TRUE(parsed(std::string("[1]\0", 4)).is_null());
  EXPECT_TRUE(parsed(std::string("[\"a\0\"]", 6)).is_null());
}

// Every tree the writer writes reads back, down to the deepest; one level more neither writes
// nor reads.
TEST(JsonDepth, ReaderAndWriterShareOneLimit) {
  const Value deepest = nested_array_value(512, Array{1});
  EXPECT_EQ(json_2_ns(ns_2_json(deepest)), deepest);
  EXPECT_TRUE(ns_2_json(nested_array_value(513)).is_null());
  EXPECT_TRUE(parsed(nested_arrays(513)).is_null());
  EXPECT_TRUE(parsed(nested_arrays(200000)).is_null());
  EXPECT_TRUE(parsed(std::string(200000, '[')).is_null());
}

// The JSON checker's verdicts, but for fail18: 20 levels deep is well inside our limit.
TEST(JsonSharedData, CheckerVerdicts) {
  ORV_REQUIRE_SHARED_DATA();
  int seen = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(orv::test::shared_data_dir() / "json/jsonchecker")) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".json") continue;
    const bool passes = name.starts_with("pass") || name == "fail18_EXCLUDE.json";
    EXPECT_EQ(orv::parse_json(orv::test::read_file(entry.path())).has_value(), passes) << name;
    ++seen;
  }
  EXPECT_GT(seen, 30);
}

}  // namespace

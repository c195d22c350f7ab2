// Property lists written by other projects: the libplist test files and the inputs that its
// fuzzers found crashing or leaking.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "platform/plist/binary_plist.h"
#include "platform/plist/plist_file.h"
#include "platform/plist/xml_plist.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

Result<Value> read_data(std::string_view name) {
  return read_plist_file(test::shared_data_dir() / "plist" / name);
}

TEST(PlistData, BinaryAndXmlFormsAgree) {
  ORV_REQUIRE_SHARED_DATA();
  const Value numbers =
      Array{-1, Value::unsigned_integer(std::numeric_limits<std::uint64_t>::max()),
            std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(),
            Value::unsigned_integer(std::uint64_t{1} << 63)};
  EXPECT_EQ(read_data("signedunsigned.bplist"), numbers);
  EXPECT_EQ(read_data("signedunsigned.plist"), numbers);
  for (std::string name : {"order", "signed", "unsigned"}) {
    const Value binary = read_data(name + ".bplist").value_or(Value());
    EXPECT_FALSE(binary.is_null()) << name;
    EXPECT_EQ(read_data(name + ".plist"), binary) << name;
  }
  EXPECT_EQ(test::keys_of(read_data("order.bplist").value_or(Value())),
            (std::vector<std::string>{"test", "foo"}));
  EXPECT_EQ(read_data("hex.plist"), Value(std::int64_t{0x73709551615}));
  EXPECT_EQ(read_data("entities.plist").value_or(Value())["some test entitites"]["copyright"],
            Value("\xC2\xA9"));
  for (std::string name : {"1.plist", "2.plist", "3.plist", "4.plist", "6.plist", "7.plist",
                           "offxml.plist", "cdata.plist", "data.bplist"})
    EXPECT_TRUE(read_data(name)) << name;
}

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whatever a hostile file decodes to must survive both writers and read back equal.
void expect_refused_or_sound(const Result<Value>& v, const fs::path& file) {
  if (!v) return;
  for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
    Result<Value> again = fail("no form");
    if (format == PlistFormat::Binary) {
      if (auto bytes = encode_binary_plist(*v)) again = decode_binary_plist(*bytes);
    } else if (auto text = encode_xml_plist(*v)) {
      again = decode_xml_plist(*text);
    }
    if (again) {
      EXPECT_EQ(*again, *v) << file;
    }
  }
}

TEST(PlistData, HostileInputsAreRefusedOrReadSoundly) {
  ORV_REQUIRE_SHARED_DATA();
  int files = 0;
  for (std::string kind : {"binary", "xml"}) {
    for (const auto& entry :
         fs::directory_iterator(test::shared_data_dir() / "plist-hostile" / kind)) {
      const std::string text = contents(entry.path());
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
      expect_refused_or_sound(decode_binary_plist({bytes, text.size()}), entry.path());
      expect_refused_or_sound(decode_xml_plist(text), entry.path());
      ++files;
    }
  }
  EXPECT_GT(files, 20);
}

}  // namespace
}  // namespace orv

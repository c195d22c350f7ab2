// Our codecs against implementations we did not write: Python's plistlib (through
// tests/peers/plist_peer.py) and libplist.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/plist/binary_plist.h"
#include "platform/plist/plist_file.h"
#include "platform/plist/xml_plist.h"
#include "tests/plist_sample.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

bool run_peer(const std::string& command, const std::filesystem::path& path) {
  const std::string line = "python3 '" ORVANE_SOURCE_DIR "/tests/peers/plist_peer.py' " + command +
                           " '" + path.string() + "'";
  return std::system(line.c_str()) == 0;
}

TEST(PlistPeer, PlistlibAndWeReadWhatTheOtherWrites) {
  if (std::system("python3 -c 'import plistlib' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 with plistlib not found";
  test::TempDir dir;
  const Value sample = test::plist_sample();
  ASSERT_TRUE(run_peer("write", dir.path()));
  for (const char* name : {"sample.xml", "sample.bplist"}) {
    std::optional<Value> v = read_plist_file(dir.path() / name);
    ASSERT_TRUE(v) << name;
    EXPECT_EQ(*v, sample) << name;
    EXPECT_EQ(test::keys_of(*v), test::keys_of(sample)) << name;
  }
  ASSERT_TRUE(write_plist_file_atomically(dir.path() / "ours.xml", sample, PlistFormat::Xml));
  ASSERT_TRUE(write_plist_file_atomically(dir.path() / "ours.bplist", sample, PlistFormat::Binary));
  EXPECT_TRUE(run_peer("check", dir.path() / "ours.xml"));
  EXPECT_TRUE(run_peer("check", dir.path() / "ours.bplist"));
}

using PlistPtr = std::unique_ptr<void, decltype(&plist_free)>;

std::string string_at(plist_t dict, const char* key) {
  char* s = nullptr;
  plist_get_string_val(plist_dict_get_item(dict, key), &s);
  std::string out = s ? s : "";
  std::free(s);
  return out;
}

std::uint64_t uint_at(plist_t dict, const char* key) {
  std::uint64_t v = 0;
  plist_get_uint_val(plist_dict_get_item(dict, key), &v);
  return v;
}

void expect_libplist_sees_the_sample(plist_t root) {
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(plist_get_node_type(root), PLIST_DICT);
  EXPECT_EQ(plist_dict_get_size(root), test::plist_sample().as_dictionary().size());
  EXPECT_EQ(string_at(root, "unicode"), test::plist_sample()["unicode"].as_string());
  EXPECT_EQ(uint_at(root, "negative"), ~0ull);  // libplist shows the 64 bits
  EXPECT_EQ(uint_at(root, "uint64_max"), ~0ull);
  EXPECT_EQ(uint_at(root, "wide"), 1ull << 40);
  double real = 0;
  plist_get_real_val(plist_dict_get_item(root, "real"), &real);
  EXPECT_EQ(real, 3.25);
  std::uint64_t data_size = 0;
  char* data = nullptr;
  plist_get_data_val(plist_dict_get_item(root, "data"), &data, &data_size);
  EXPECT_EQ(data_size, 256u);
  std::free(data);
  plist_t nested = plist_dict_get_item(plist_dict_get_item(root, "nested"), "b");
  EXPECT_EQ(plist_array_get_size(plist_dict_get_item(nested, "a")), 1u);
}

TEST(PlistPeer, LibplistReadsWhatWeWriteAndWeReadItsOutput) {
  const Value sample = test::plist_sample();
  const Bytes binary = *encode_binary_plist(sample);
  const std::string xml = *encode_xml_plist(sample);
  plist_t from_bin = nullptr;
  plist_t from_xml = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(binary.data()),
                 static_cast<std::uint32_t>(binary.size()), &from_bin);
  plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &from_xml);
  PlistPtr bin_owner(from_bin, &plist_free), xml_owner(from_xml, &plist_free);
  expect_libplist_sees_the_sample(from_bin);
  expect_libplist_sees_the_sample(from_xml);

  char* out = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(from_bin, &out, &length);
  const std::optional<Value> back =
      decode_binary_plist({reinterpret_cast<const std::uint8_t*>(out), length});
  std::free(out);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, sample);
}

}  // namespace
}  // namespace orv

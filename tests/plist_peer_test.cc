// Our codecs against implementations we did not write: Python's plistlib (through
// tests/peers/plist_peer.py) and libplist.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
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
    Result<Value> v = read_plist_file(dir.path() / name);
    ASSERT_TRUE(v) << name;
    EXPECT_EQ(*v, sample) << name;
    EXPECT_EQ(test::keys_of(*v), test::keys_of(sample)) << name;
  }
  ASSERT_TRUE(write_plist_file_atomically(dir.path() / "ours.xml", sample, PlistFormat::Xml));
  ASSERT_TRUE(write_plist_file_atomically(dir.path() / "ours.bplist", sample, PlistFormat::Binary));
  EXPECT_TRUE(run_peer("check", dir.path() / "ours.xml"));
  EXPECT_TRUE(run_peer("check", dir.path() / "ours.bplist"));
}

// libplist reads both our forms: what it writes back in binary must read as the sample.
TEST(PlistPeer, LibplistReadsWhatWeWriteAndWeReadItsOutput) {
  const Value sample = test::plist_sample();
  const Bytes binary = *encode_binary_plist(sample);
  const std::string xml = *encode_xml_plist(sample);
  plist_t from_bin = nullptr;
  plist_t from_xml = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(binary.data()),
                 static_cast<std::uint32_t>(binary.size()), &from_bin);
  plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &from_xml);
  for (plist_t parsed : {from_bin, from_xml}) {
    ASSERT_NE(parsed, nullptr);
    char* out = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(parsed, &out, &length);
    EXPECT_EQ(decode_binary_plist({reinterpret_cast<const std::uint8_t*>(out), length}), sample);
    std::free(out);
    plist_free(parsed);
  }
}

}  // namespace
}  // namespace orv

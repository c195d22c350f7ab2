// Our codecs against an implementation we did not write: libplist reads both our forms, and we
// read both of its forms back as the same tree, in the same key order.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <string>

#include "platform/plist/binary_plist.h"
#include "platform/plist/xml_plist.h"
#include "tests/plist_sample.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

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
    const Result<Value> read =
        decode_binary_plist({reinterpret_cast<const std::uint8_t*>(out), length});
    std::free(out);
    EXPECT_EQ(read, sample);
    EXPECT_EQ(test::keys_of(read.value_or(Value(Dictionary{}))), test::keys_of(sample));
    plist_to_xml(parsed, &out, &length);
    EXPECT_EQ(decode_xml_plist(std::string_view(out, length)), sample);
    std::free(out);
    plist_free(parsed);
  }
}

}  // namespace
}  // namespace orv

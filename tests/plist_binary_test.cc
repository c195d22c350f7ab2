// The binary reader against hand-assembled documents: every width of references and offsets,
// shared objects, the depth limit and objects that have no value form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/plist/binary_plist.h"

namespace orv {
namespace {

void put_be(Bytes& out, std::uint64_t v, unsigned size) {
  for (unsigned i = size; i-- > 0;)
    out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A container object: its marker, then its references of ref_size bytes each.
Bytes object(Bytes marker, std::initializer_list<std::uint64_t> refs, unsigned ref_size = 1) {
  for (std::uint64_t r : refs)
    put_be(marker, r, ref_size);
  return marker;
}

// A document of the given objects, object 0 at the top unless said otherwise.
struct Document {
  std::vector<Bytes> objects;
  unsigned offset_size = 1;
  unsigned ref_size = 1;
  std::uint64_t top = 0;

  Bytes bytes() const {
    Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint64_t> offsets;
    for (const Bytes& o : objects) {
      offsets.push_back(out.size());
      out.insert(out.end(), o.begin(), o.end());
    }
    const std::uint64_t table = out.size();
    for (std::uint64_t offset : offsets)
      put_be(out, offset, offset_size);
    out.insert(out.end(), 6, 0);
    out.push_back(static_cast<std::uint8_t>(offset_size));
    out.push_back(static_cast<std::uint8_t>(ref_size));
    put_be(out, objects.size(), 8);
    put_be(out, top, 8);
    put_be(out, table, 8);
    return out;
  }
};

Result<Value> decode(const Document& d) {
  return decode_binary_plist(d.bytes());
}

const Bytes kKeyA = {0x51, 'a'};
const Bytes kStringB = {0x51, 'b'};

// A chain of arrays, each holding the next; the innermost is empty.
Document nested_arrays(std::uint64_t depth) {
  Document d;
  d.offset_size = depth < 40000 ? 3 : 4;
  d.ref_size = 3;
  for (std::uint64_t i = 0; i + 1 < depth; ++i)
    d.objects.push_back(object({0xA1}, {i + 1}, 3));
  d.objects.push_back({0xA0});
  return d;
}

TEST(BinaryPlist, ReadsEveryWidthOfReferencesAndOffsets) {
  for (unsigned ref_size = 1; ref_size <= 8; ++ref_size) {
    for (unsigned offset_size = 1; offset_size <= 8; ++offset_size) {
      Document d{{object({0xD1}, {1, 2}, ref_size), kKeyA, kStringB}, offset_size, ref_size};
      EXPECT_EQ(decode(d), Value(Dictionary{{"a", "b"}})) << ref_size << " " << offset_size;
    }
  }
}

TEST(BinaryPlist, SharedObjectsReadAlikeEverywhereAndOnlyInTheirOwnDocument) {
  const Bytes seven = {0x10, 7};
  const Bytes blob = {0x42, 0xAB, 0xCD};
  const Bytes utf16_e = {0x61, 0x00, 0xE9};  // "é"
  Document shared{{object({0xA7}, {1, 2, 1, 3, 2, 4, 4}), kStringB, seven, blob, utf16_e}};
  const Value data = Value::data({0xAB, 0xCD});
  EXPECT_EQ(decode(shared), Value(Array{"b", 7, "b", data, 7, "\xC3\xA9", "\xC3\xA9"}));
  // One object as both a key and a value.
  EXPECT_EQ(decode(Document{{object({0xD1}, {1, 1}), kKeyA}}), Value(Dictionary{{"a", "a"}}));
  // A document that fails after its shared objects were read leaves nothing behind for the
  // next one, which has other objects at the same places.
  EXPECT_FALSE(decode(Document{{object({0xA3}, {1, 1, 2}), kStringB, {0x00}}}));
  EXPECT_EQ(decode(Document{{object({0xA2}, {1, 1}), seven}}), Value(Array{7, 7}));
  EXPECT_EQ(decode(Document{{object({0xA2}, {1, 1}), {0x51, 'c'}}}), Value(Array{"c", "c"}));
}

// Trailers, offsets, references and counts that lie, cycles and documents that expand far
// beyond their size are seeds of the fuzz corpus, which every test build replays.
TEST(BinaryPlist, RefusesDeepNesting) {
  EXPECT_TRUE(decode(nested_arrays(512)));
  EXPECT_EQ(decode(nested_arrays(513)).error().message, "containers nested too deep");
  EXPECT_FALSE(decode(nested_arrays(200000)));
}

TEST(BinaryPlist, RefusesObjectsWithoutAValueForm) {
  auto single = [](Bytes object) { return decode(Document{{std::move(object)}}); };
  EXPECT_FALSE(single({0x00}));                            // null
  EXPECT_FALSE(single({0x0F}));                            // fill
  EXPECT_FALSE(single({0x80, 0x07}));                      // UID
  for (std::uint8_t length = 1; length <= 20; ++length) {  // "ASCII" above 0x7F, at every place
    Bytes text =
        length < 15 ? Bytes{static_cast<std::uint8_t>(0x50 | length)} : Bytes{0x5F, 0x10, length};
    const std::size_t start = text.size();
    text.insert(text.end(), length, 'x');
    EXPECT_EQ(single(text), Value(std::string(length, 'x')));
    for (std::size_t at = start; at < text.size(); ++at) {
      Bytes bad = text;
      bad[at] = 0xE9;
      EXPECT_FALSE(single(bad)) << int{length} << " " << at;
    }
  }
  EXPECT_FALSE(single({0x61, 0xD8, 0x3D}));  // lone lead surrogate
  EXPECT_EQ(single({0x62, 0xD8, 0x3D, 0xDE, 0x00}), Value("\xF0\x9F\x98\x80"));
  // Keys must be strings, and unique.
  EXPECT_FALSE(decode(Document{{object({0xD1}, {1, 1}), {0x10, 1}}}));
  EXPECT_FALSE(decode(Document{{object({0xD2}, {1, 1, 2, 2}), kKeyA, kStringB}}));
  // Equal texts in different objects (ASCII and UTF-16 "a") are the same key too, in a small
  // dictionary and in one large enough to be indexed.
  const Bytes utf16_a = {0x61, 0x00, 'a'};
  EXPECT_FALSE(decode(Document{{object({0xD2}, {1, 2, 3, 3}), kKeyA, utf16_a, kStringB}}));
  for (std::uint8_t count : {16, 17, 40}) {
    Document d{{{0xDF, 0x10, count}}};
    for (std::uint8_t i = 0; i < count; ++i) {  // keys: objects 1..count, all one value
      d.objects.push_back({0x51, static_cast<std::uint8_t>('A' + i)});
      d.objects[0].push_back(static_cast<std::uint8_t>(1 + i));
    }
    d.objects[0].insert(d.objects[0].end(), count, static_cast<std::uint8_t>(count + 1));
    d.objects.push_back(kStringB);
    ASSERT_TRUE(decode(d)) << count;
    d.objects[count] = d.objects[1];  // the last key's text becomes the first's
    EXPECT_FALSE(decode(d)) << count;
  }
  // A small dictionary whose keys come after 64 other key texts in the document, with a
  // repeated text among them.
  Document d{{object({0xA2}, {1, 2}), {0xDF, 0x10, 70}, {}}, 2};  // read in this order
  for (std::uint8_t i = 0; i < 70; ++i) {  // objects 3..72: keys "k0" to "kE"
    d.objects.push_back({0x52, 'k', static_cast<std::uint8_t>('0' + i)});
    d.objects[1].push_back(static_cast<std::uint8_t>(3 + i));
  }
  d.objects[1].insert(d.objects[1].end(), 70, 73);
  d.objects.push_back(kStringB);               // 73: every value
  d.objects.push_back({0x52, 'k', '0' + 66});  // 74: a second "k" + 66
  d.objects[2] = object({0xD3}, {3 + 66, 3 + 67, 3 + 68, 73, 73, 73});
  ASSERT_TRUE(decode(d));
  d.objects[2] = object({0xD3}, {3 + 66, 3 + 67, 74, 73, 73, 73});
  EXPECT_FALSE(decode(d));
}

}  // namespace
}  // namespace orv

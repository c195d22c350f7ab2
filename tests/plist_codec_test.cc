// Our property list codecs: round trips through both forms, what the writers refuse, the XML
// reader's variants and errors, libplist reading what we write (and we reading its output),
// the files of other projects, plist files on disk, and the binary reader on hand-made
// documents.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "platform/plist/binary_plist.h"
#include "platform/plist/plist_file.h"
#include "platform/plist/xml_plist.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

using test::keys_of;
using ::testing::HasSubstr;

// A property list holding every kind of value.
Value plist_sample() {
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

Result<Value> round_trip(const Value& v, PlistFormat format) {
  if (format == PlistFormat::Binary) {
    std::optional<Bytes> bytes = encode_binary_plist(v);
    return bytes ? decode_binary_plist(*bytes) : fail("no binary form");
  }
  std::optional<std::string> text = encode_xml_plist(v);
  return text ? decode_xml_plist(*text) : fail("no XML form");
}

Value nested_arrays(int depth) {
  Value v = Array{};
  for (int i = 1; i < depth; ++i)
    v = Array{v};
  return v;
}

// Every kind of value crosses both forms in the libplist test below, which reads our output and
// gives us its own.
TEST(PlistCodec, RoundTripKeepsControlCharactersAndWideDictionaries) {
  // Carriage returns are escaped in XML, so they do not come back as newlines.
  for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml})
    EXPECT_EQ(round_trip(Value("a\r\nb"), format), Value("a\r\nb"));
  EXPECT_EQ(round_trip(std::string("a\0b", 3), PlistFormat::Binary), Value(std::string("a\0b", 3)));
  // Wide dictionaries whose texts repeat between keys and values, with containers among them.
  for (int width : {15, 16, 17, 40}) {
    Dictionary wide;
    for (int i = 0; i < width; ++i) {
      const std::string key = "key" + std::to_string(i);
      wide.set(key, i % 3 == 0   ? Value("key" + std::to_string(width - 1 - i))
                    : i % 3 == 1 ? Value(i)
                                 : Value(Dictionary{{key, key}}));
    }
    EXPECT_EQ(round_trip(Value(wide), PlistFormat::Binary), Value(wide)) << width;
  }
}

// The number of objects a binary document says it holds.
std::uint64_t object_count(const Bytes& document) {
  std::uint64_t count = 0;
  for (std::size_t i = document.size() - 24; i < document.size() - 16; ++i)
    count = (count << 8) | document[i];
  return count;
}

TEST(PlistCodec, BinaryWriterStoresEachTextOnce) {
  // Equal texts held in different strings, of every length up to past two words, and texts
  // that differ in one byte: one object per distinct text, besides the array.
  for (std::size_t length = 0; length <= 40; ++length) {
    std::string text(length, 'q');
    for (std::size_t at = 0; at < length; ++at)
      text[at] = static_cast<char>('a' + at % 26);
    EXPECT_EQ(object_count(*encode_binary_plist(Array{text, std::string(text)})), 2u) << length;
    for (std::size_t at = 0; at < length; ++at) {
      std::string other = text;
      other[at] = '#';
      EXPECT_EQ(object_count(*encode_binary_plist(Array{text, other})), 3u) << length << " " << at;
    }
  }
}

TEST(PlistCodec, WritersRefuseWhatTheirFormCannotHold) {
  EXPECT_FALSE(encode_binary_plist(Value()));
  EXPECT_FALSE(encode_binary_plist(Array{1, Value()}));
  EXPECT_FALSE(encode_xml_plist(Dictionary{{"k", Value()}}));
  EXPECT_FALSE(encode_binary_plist(Value("bad \xFF utf-8")));
  EXPECT_FALSE(encode_xml_plist(Value(std::string("nul \0 inside", 12))));
  EXPECT_FALSE(encode_xml_plist(Value(Date{1e300})));
}

// Both writers stop at the depth their readers accept (the binary reader's own limit is
// checked on hand-made documents), and a reader gives up as soon as the limit is crossed.
TEST(PlistCodec, ReadersAndWritersShareOneDepthLimit) {
  for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml})
    EXPECT_EQ(round_trip(nested_arrays(512), format), nested_arrays(512));
  EXPECT_FALSE(encode_binary_plist(nested_arrays(513)));
  EXPECT_FALSE(encode_xml_plist(nested_arrays(513)));
  auto nested_text = [](std::size_t depth) {
    std::string open, close;
    for (std::size_t i = 0; i < depth; ++i) {
      open += "<array>";
      close += "</array>";
    }
    return "<plist>" + open + close + "</plist>";
  };
  EXPECT_THAT(decode_xml_plist(nested_text(513)).error().message, HasSubstr("too deep"));
  EXPECT_FALSE(decode_xml_plist(nested_text(200000)));
}

TEST(PlistCodec, XmlReaderAcceptsTheUsualVariants) {
  auto read = [](std::string_view body) {
    return decode_xml_plist("<plist version=\"1.0\">" + std::string(body) + "</plist>");
  };
  EXPECT_EQ(read("<integer>0x7fffffffffffffff</integer>"),
            Value(std::numeric_limits<std::int64_t>::max()));
  EXPECT_EQ(read("<date>2001-01-01T00:00:00Z</date>"), Value(Date{0}));
  EXPECT_EQ(read("<data>AAEC\n\t/w==</data>"), Value::data({0, 1, 2, 255}));
  EXPECT_EQ(read("<string>a&amp;b<![CDATA[<c>]]>&#x1F600;</string>"),
            Value("a&b<c>\xF0\x9F\x98\x80"));
  EXPECT_EQ(decode_xml_plist("<dict><key>k</key><true/></dict>"), Value(Dictionary{{"k", true}}));
}

TEST(PlistCodec, XmlReaderRefusesMalformedDocuments) {
  for (std::string_view body : {"",
                                "<integer>12x</integer>",
                                "<integer>-9223372036854775809</integer>",
                                "<integer>18446744073709551616</integer>",
                                "<integer></integer>",
                                "<real>abc</real>",
                                "<date>2001-02-29T00:00:00Z</date>",
                                "<date>2001-01-01 00:00:00Z</date>",
                                "<data>AA=A</data>",
                                "<data>A</data>",
                                "<data>====</data>",
                                "<true>x</true>",
                                "<dict><key>a</key></dict>",
                                "<dict><string>a</string></dict>",
                                "<dict><key>a</key><true/><key>a</key><false/></dict>",
                                "<unknown/>",
                                "<string>a<b/></string>",
                                "<array>text</array>",
                                "<true/><true/>",
                                "<plist/>"}) {
    EXPECT_FALSE(decode_xml_plist("<plist>" + std::string(body) + "</plist>")) << body;
  }
  EXPECT_FALSE(decode_xml_plist("<plist><true/>"));
  EXPECT_FALSE(decode_xml_plist(
      "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY a \"aaaa\">]><plist><string>&a;"
      "</string></plist>"));
}

TEST(PlistFile, ReadsEitherFormByContentAndRefusesTheRest) {
  test::TempDir dir;
  ASSERT_TRUE(write_plist_file_atomically(dir.path() / "a.plist", Array{1}, PlistFormat::Binary));
  test::write_file(dir.path() / "empty.plist", "");
  test::write_file(dir.path() / "bad.plist", "bplist00 but nothing else");
  for (const char* name : {"empty.plist", "bad.plist", "missing.plist", ""})
    EXPECT_FALSE(read_plist_file(dir.path() / name)) << name;
  // A failed write leaves the previous file and no temporary.
  EXPECT_FALSE(
      write_plist_file_atomically(dir.path() / "a.plist", Array{Value()}, PlistFormat::Xml));
  EXPECT_FALSE(write_plist_file_atomically(dir.path() / "no/such/dir/x", 1, PlistFormat::Xml));
  EXPECT_EQ(read_plist_file(dir.path() / "a.plist"), Value(Array{1}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
}

// Pages load their resource on every rebuild: a file rewritten in place, even at once and to
// the same size (same inode, possibly the same timestamps), must read as its new contents.
TEST(PlistFile, DictionaryWithContentsOfFileMapsThroughTheRootWantsADictionaryAndReadsAnew) {
  test::TempDir root(test::TempDir::AsRoot::Yes);
  std::filesystem::create_directories(root.real("/var/mobile/Media"));
  write_plist_file_atomically(root.real("/var/mobile/Media/arr"), Array{1}, PlistFormat::Binary);
  EXPECT_TRUE(dictionary_with_contents_of_file("/var/mobile/Media/arr").is_null());
  const auto path = root.real("/var/mobile/Media/x");
  for (const char* body :
       {"<integer>1</integer>", "<integer>2</integer>", "", "<integer>2</integer>"}) {
    test::write_file(path, std::string("<plist><dict><key>a</key>") + body + "</dict></plist>");
    const Value expected = *body ? Value(Dictionary{{"a", body[9] - '0'}}) : Value();
    EXPECT_EQ(dictionary_with_contents_of_file("/var/mobile/Media/x"), expected) << body;
  }
}

TEST(PlistPeer, LibplistReadsWhatWeWriteAndWeReadItsOutput) {
  const Value sample = plist_sample();
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
    EXPECT_EQ(keys_of(read.value_or(Value(Dictionary{}))), keys_of(sample));
    plist_to_xml(parsed, &out, &length);
    EXPECT_EQ(decode_xml_plist(std::string_view(out, length)), sample);
    std::free(out);
    plist_free(parsed);
  }
}

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
  EXPECT_EQ(keys_of(read_data("order.bplist").value_or(Value())),
            (std::vector<std::string>{"test", "foo"}));
  EXPECT_EQ(read_data("hex.plist"), Value(std::int64_t{0x73709551615}));
  EXPECT_EQ(read_data("entities.plist").value_or(Value())["some test entitites"]["copyright"],
            Value("\xC2\xA9"));
  for (std::string name : {"1.plist", "2.plist", "3.plist", "4.plist", "6.plist", "7.plist",
                           "offxml.plist", "cdata.plist", "data.bplist"})
    EXPECT_TRUE(read_data(name)) << name;
}

// Whatever a hostile file decodes to must survive both writers and read back equal.
void expect_refused_or_sound(const Result<Value>& v, const fs::path& file) {
  if (!v) return;
  for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
    if (const Result<Value> again = round_trip(*v, format)) {
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
      const std::string text = test::read_file(entry.path());
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
      expect_refused_or_sound(decode_binary_plist({bytes, text.size()}), entry.path());
      expect_refused_or_sound(decode_xml_plist(text), entry.path());
      ++files;
    }
  }
  EXPECT_GT(files, 20);
}

// The binary reader against hand-assembled documents: every width of references and offsets,
// shared objects, the depth limit and objects that have no value form.

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
Document nested_array_document(std::uint64_t depth) {
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
  EXPECT_EQ(decode(nested_array_document(513)).error().message, "containers nested too deep");
  EXPECT_FALSE(decode(nested_array_document(200000)));
}

TEST(BinaryPlist, RefusesObjectsWithoutAValueForm) {
  auto single = [](Bytes bytes) { return decode(Document{{std::move(bytes)}}); };
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

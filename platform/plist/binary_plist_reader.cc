// Reads a bplist00 document (layout in binary_plist_format.h) straight into Values. Every
// offset, reference and count is checked against the document before it is used; repeated
// objects are decoded once through the per-thread caches of binary_plist_read_cache.h.
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "platform/plist/binary_plist.h"
#include "platform/plist/binary_plist_format.h"
#include "platform/plist/binary_plist_read_cache.h"
#include "platform/plist/utf.h"

namespace orv {

namespace bplist {

namespace {

using plist_detail::is_ascii;
using plist_detail::utf16be_to_utf8;

std::uint64_t read_be(const std::uint8_t* p, std::size_t size) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < size; ++i)
    v = (v << 8) | p[i];
  return v;
}

// read_be for a field (1 to 8 bytes) that has at least 8 readable bytes from p on, as every
// reference and offset has: the 32-byte trailer follows them.
std::uint64_t read_be_padded(const std::uint8_t* p, std::size_t size) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v >> (8 * (8 - size));
}

struct Trailer {
  std::uint8_t offset_size = 0;
  std::uint8_t ref_size = 0;
  std::uint64_t object_count = 0;
  std::uint64_t top_object = 0;
  std::uint64_t table_offset = 0;
};

Result<Trailer> read_trailer(std::span<const std::uint8_t> bytes) {
  const std::size_t size = bytes.size();
  if (size < kHeaderSize + 1 + kTrailerSize) return fail("too short for a binary property list");
  if (std::memcmp(bytes.data(), kMagic.data(), kMagic.size()) != 0)
    return fail("no binary property list header");
  const std::uint8_t* t = bytes.data() + size - kTrailerSize;
  const Trailer trailer{t[6], t[7], read_be(t + 8, 8), read_be(t + 16, 8), read_be(t + 24, 8)};
  if (trailer.offset_size < 1 || trailer.offset_size > 8 || trailer.ref_size < 1 ||
      trailer.ref_size > 8)
    return fail("bad offset or reference size in the trailer");
  if (trailer.object_count == 0 || trailer.top_object >= trailer.object_count)
    return fail("bad object count or top object in the trailer");
  // The table lies after the header and ends at or before the trailer.
  const std::uint64_t table_space = size - kTrailerSize;
  if (trailer.table_offset <= kHeaderSize || trailer.table_offset > table_space ||
      trailer.object_count > (table_space - trailer.table_offset) / trailer.offset_size)
    return fail("offset table outside the document");
  return trailer;
}

// Reads a whole document. Objects are decoded on demand from the top object down; a shared
// object is decoded once per reference, which the expansion budget keeps linear in the file.
class Decoder {
 public:
  Decoder(std::span<const std::uint8_t> bytes, const Trailer& trailer)
      : bytes_(bytes),
        offset_size_(trailer.offset_size),
        ref_size_(trailer.ref_size),
        object_count_(trailer.object_count),
        top_object_(trailer.top_object),
        table_offset_(trailer.table_offset),
        // The decoded tree may repeat shared objects; cap it relative to the file's own size so
        // a small file cannot expand into a huge tree (the binary form of "billion laughs").
        budget_(bytes.size() * kExpansionFactor + kExpansionFloor),
        cache_(trailer.object_count) {}

  Result<Value> decode() {
    Value root;
    if (!decode_object(top_object_, 0, root)) return fail(refusal_);
    return root;
  }

 private:
  static constexpr std::uint64_t kExpansionFactor = 64;
  static constexpr std::uint64_t kExpansionFloor = 8u << 20;
  static constexpr std::uint64_t kNodeWeight = 32;

  // Notes why the document is refused; false, for the caller to return. Cold: a document is
  // refused once, so this stays out of the decoding loops.
  [[gnu::cold]] bool refuse(const char* reason) {
    refusal_ = reason;
    return false;
  }

  // The position of an object, which must lie between the header and the offset table.
  bool object_offset(std::uint64_t index, std::uint64_t& offset) {
    if (index >= object_count_) return refuse("reference to an object that does not exist");
    offset = read_be_padded(bytes_.data() + table_offset_ + index * offset_size_, offset_size_);
    if (offset < kHeaderSize || offset >= table_offset_)
      return refuse("object offset outside the objects");
    return true;
  }

  // Bytes from pos up to the offset table, the region every object must fit in.
  std::uint64_t space_from(std::uint64_t pos) const {
    return pos <= table_offset_ ? table_offset_ - pos : 0;
  }

  bool charge(std::uint64_t weight) {
    if (weight > budget_) return refuse("expands far beyond its own size");
    budget_ -= weight;
    return true;
  }

  bool truncated() { return refuse("an object runs past the objects"); }

  // Reads the count in a marker's low nibble, or the integer object that follows a 0xF nibble.
  // pos is left at the first byte after the count.
  bool read_count(std::uint8_t marker, std::uint64_t& pos, std::uint64_t& count) {
    count = marker & 0x0F;
    if (count != 0x0F) return true;
    if (space_from(pos) < 1) return truncated();
    const std::uint8_t int_marker = bytes_[pos++];
    if ((int_marker & 0xF0) != kInt || (int_marker & 0x0F) > 3) return refuse("bad count");
    const std::size_t width = std::size_t{1} << (int_marker & 0x0F);
    if (space_from(pos) < width) return truncated();
    count = read_be(bytes_.data() + pos, width);
    pos += width;
    return true;
  }

  bool read_ref(std::uint64_t pos, std::uint64_t& ref) {
    ref = read_be_padded(bytes_.data() + pos, ref_size_);
    return ref < object_count_ || refuse("reference to an object that does not exist");
  }

  bool decode_object(std::uint64_t index, int depth, Value& out) {
    if (index >= object_count_) return refuse("reference to an object that does not exist");
    if (const CachedLeaf* leaf = cache_.leaf(index)) return copy_leaf(*leaf, out);
    const std::uint64_t budget_before = budget_;
    std::uint64_t pos = 0;
    if (!object_offset(index, pos) || !charge(kNodeWeight)) return false;
    const std::uint8_t marker = bytes_[pos++];
    const std::uint8_t kind = marker & 0xF0;
    if (kind == kArray || kind == kDict)
      return decode_container(index, marker, pos, depth + 1, out);
    if (!decode_leaf(marker, pos, out)) return false;
    cache_.remember_leaf(index, out, budget_before - budget_);
    return true;
  }

  bool decode_leaf(std::uint8_t marker, std::uint64_t pos, Value& out) {
    switch (marker & 0xF0) {
      case 0x00:
        return decode_simple(marker, out);
      case kInt:
        return decode_int(marker, pos, out);
      case kReal:
        return decode_real(marker, pos, out);
      case 0x30:
        return decode_date(marker, pos, out);
      case kData:
        return decode_data(marker, pos, out);
      case kAsciiString:
      case kUtf16String: {
        std::string s;
        if (!decode_string(marker, pos, s)) return false;
        out = Value(std::move(s));
        return true;
      }
      default:
        // UIDs, sets and the unassigned kinds have no Value form here: refusing keeps a
        // read-then-write round trip faithful.
        return refuse("an object kind with no value form (UID, set or unknown)");
    }
  }

  // A repeated leaf is copied from the cache, charged as if decoded again. out is always a
  // fresh null value here: building the copy in its place avoids the variant's assignment,
  // which copies through a temporary; the copy cannot throw (a short text, a scalar, or shared
  // data), so out is never left destroyed.
  bool copy_leaf(const CachedLeaf& leaf, Value& out) {
    if (!charge(leaf.weight)) return false;
    std::destroy_at(&out);
    std::construct_at(&out, leaf.value);
    return true;
  }

  bool decode_simple(std::uint8_t marker, Value& out) {
    // Null and fill bytes have no Value form either.
    if (marker != kFalse && marker != kTrue) return refuse("a null or fill object");
    out = Value(marker == kTrue);
    return true;
  }

  bool decode_int(std::uint8_t marker, std::uint64_t pos, Value& out) {
    const unsigned log_width = marker & 0x0F;
    if (log_width > 4) return refuse("an integer wider than 16 bytes");
    const std::size_t width = std::size_t{1} << log_width;
    if (space_from(pos) < width) return truncated();
    const std::uint8_t* p = bytes_.data() + pos;
    if (width <= 4) {  // 1, 2 and 4 bytes are unsigned
      out = Value(static_cast<std::int64_t>(read_be(p, width)));
    } else if (width == 8) {  // 8 bytes are signed
      out = Value(static_cast<std::int64_t>(read_be(p, 8)));
    } else {  // 16 bytes: a 128-bit signed number that must fit in 64 bits
      const std::uint64_t high = read_be(p, 8);
      const std::uint64_t low = read_be(p + 8, 8);
      const bool low_negative = low >> 63;
      if (high == 0) {
        out = Value::unsigned_integer(low);
      } else if (high == std::numeric_limits<std::uint64_t>::max() && low_negative) {
        out = Value(static_cast<std::int64_t>(low));
      } else {
        return refuse("an integer beyond 64 bits");
      }
    }
    return true;
  }

  bool decode_real(std::uint8_t marker, std::uint64_t pos, Value& out) {
    if (marker != 0x22 && marker != 0x23) return refuse("a real that is neither 4 nor 8 bytes");
    if (marker == 0x22) {
      if (space_from(pos) < 4) return truncated();
      out = Value(static_cast<double>(
          std::bit_cast<float>(static_cast<std::uint32_t>(read_be(bytes_.data() + pos, 4)))));
      return true;
    }
    if (space_from(pos) < 8) return truncated();
    out = Value(std::bit_cast<double>(read_be(bytes_.data() + pos, 8)));
    return true;
  }

  bool decode_date(std::uint8_t marker, std::uint64_t pos, Value& out) {
    if (marker != kDate) return refuse("a date that is not 8 bytes");
    if (space_from(pos) < 8) return truncated();
    out = Value(Date{std::bit_cast<double>(read_be(bytes_.data() + pos, 8))});
    return true;
  }

  bool decode_data(std::uint8_t marker, std::uint64_t pos, Value& out) {
    std::uint64_t length = 0;
    if (!read_count(marker, pos, length)) return false;
    if (length > space_from(pos)) return truncated();
    if (!charge(length)) return false;
    const std::uint8_t* p = bytes_.data() + pos;
    out = Value::data(Bytes(p, p + length));
    return true;
  }

  bool decode_string(std::uint8_t marker, std::uint64_t pos, std::string& out) {
    std::uint64_t length = 0;
    if (!read_count(marker, pos, length)) return false;
    const char* p = reinterpret_cast<const char*>(bytes_.data() + pos);
    if ((marker & 0xF0) == kAsciiString) {
      if (length > space_from(pos)) return truncated();
      if (!charge(length)) return false;
      std::string_view text(p, length);
      if (!is_ascii(text)) return refuse("a byte above 0x7F in an ASCII string");
      out.assign(text);
      return true;
    }
    if (length > space_from(pos) / 2) return truncated();
    if (!charge(length * 3)) return false;
    return utf16be_to_utf8(std::string_view(p, length * 2), out) || refuse("invalid UTF-16");
  }

  bool decode_container(std::uint64_t index, std::uint8_t marker, std::uint64_t pos, int depth,
                        Value& out) {
    if (depth > kMaxDepth) return refuse("containers nested too deep");
    if (cache_.path_mark(index)) return refuse("a container that holds itself");
    std::uint64_t count = 0;
    if (!read_count(marker, pos, count)) return false;
    const std::uint64_t refs_per_entry = (marker & 0xF0) == kDict ? 2 : 1;
    // Check the file holds every reference before reserving anything by the count.
    if (count > space_from(pos) / ref_size_ / refs_per_entry) return truncated();
    PathMark mark(cache_.path_mark(index));
    return (marker & 0xF0) == kDict ? decode_dict(pos, count, depth, out)
                                    : decode_array(pos, count, depth, out);
  }

  bool decode_array(std::uint64_t pos, std::uint64_t count, int depth, Value& out) {
    Array items(count);
    for (std::uint64_t i = 0; i < count; ++i, pos += ref_size_) {
      std::uint64_t ref = 0;
      if (!read_ref(pos, ref) || !decode_object(ref, depth, items[i])) return false;
    }
    out = Value(std::move(items));
    return true;
  }

  // Keys must be strings and unique; a duplicate key refuses the document, since readers
  // disagree on which of the two values wins.
  bool decode_dict(std::uint64_t pos, std::uint64_t count, int depth, Value& out) {
    Dictionary dict;
    dict.reserve(count);
    // A small dictionary tells its keys apart by the texts' numbers; a larger one uses the
    // dictionary's own index.
    const bool small = count <= kSmallDict;
    SeenKeys seen;
    const std::uint64_t values_pos = pos + count * ref_size_;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint64_t key_ref = 0;
      std::uint64_t value_ref = 0;
      const CachedKey* key = nullptr;
      if (!read_ref(pos + i * ref_size_, key_ref) || !(key = decode_key(key_ref)) ||
          !read_ref(values_pos + i * ref_size_, value_ref))
        return false;
      if (small) {
        if (!seen.add(key->text_id)) return repeated_key();
        // Decoded straight into its entry: room for every entry was reserved above.
        Value& value = detail::DictionaryFill::append_absent(dict, key->text);
        if (!decode_object(value_ref, depth, value)) return false;
        continue;
      }
      Value value;
      if (!decode_object(value_ref, depth, value)) return false;
      if (!dict.add(key->text, std::move(value))) return repeated_key();
    }
    out = Value(std::move(dict));
    return true;
  }

  bool repeated_key() { return refuse("a repeated dictionary key"); }

  // A key object, decoded once per document and taken from the cache from then on.
  const CachedKey* decode_key(std::uint64_t index) {
    if (index >= object_count_) {
      refuse("reference to an object that does not exist");
      return nullptr;
    }
    if (const CachedKey* key = cache_.key(index))
      return charge(kNodeWeight + key->text.size()) ? key : nullptr;
    std::uint64_t pos = 0;
    if (!object_offset(index, pos) || !charge(kNodeWeight)) return nullptr;
    const std::uint8_t marker = bytes_[pos++];
    const std::uint8_t kind = marker & 0xF0;
    if (kind != kAsciiString && kind != kUtf16String) {
      refuse("a dictionary key that is not a string");
      return nullptr;
    }
    std::string text;
    if (!decode_string(marker, pos, text)) return nullptr;
    return &cache_.remember_key(index, std::move(text));
  }

  std::span<const std::uint8_t> bytes_;
  std::uint8_t offset_size_;
  std::uint8_t ref_size_;
  std::uint64_t object_count_;
  std::uint64_t top_object_;
  std::uint64_t table_offset_;
  std::uint64_t budget_;
  ReadCache cache_;
  const char* refusal_ = "malformed";
};

}  // namespace

}  // namespace bplist

Result<Value> decode_binary_plist(std::span<const std::uint8_t> bytes) {
  Result<bplist::Trailer> trailer = bplist::read_trailer(bytes);
  if (!trailer) return fail(std::move(trailer.error()));
  return bplist::Decoder(bytes, *trailer).decode();
}

}  // namespace orv

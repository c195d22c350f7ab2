// Writes a bplist00 document (layout in binary_plist_format.h) straight from Values, each
// repeated text and number stored once. The working storage and the index that finds the
// repeats are kept per thread (binary_plist_write_scratch.h).
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "platform/plist/binary_plist.h"
#include "platform/plist/binary_plist_format.h"
#include "platform/plist/binary_plist_object_index.h"
#include "platform/plist/binary_plist_write_scratch.h"
#include "platform/plist/utf.h"

namespace orv {

namespace bplist {

namespace {

using plist_detail::is_ascii;
using plist_detail::utf8_to_utf16be;

std::size_t byte_width(std::uint64_t v) {
  std::size_t width = 1;
  while (width < 8 && (v >> (8 * width)) != 0)
    ++width;
  return width;
}

// Width of the integer that holds v in a marker's count or an integer object: 1, 2, 4 or 8.
std::size_t int_width(std::uint64_t v) {
  const std::size_t w = byte_width(v);
  return w == 1 ? 1 : w == 2 ? 2 : w <= 4 ? 4 : 8;
}

std::size_t marker_size(std::uint64_t count) {
  return count < 15 ? 1 : 2 + int_width(count);
}

// Writes a document in two passes. The first numbers every object (strings, booleans and
// integers are stored once however often they occur) and adds up the exact size; the second
// writes the objects in number order into a buffer of that size, with references of the
// smallest width that holds the highest number.
class Encoder {
 public:
  std::optional<Bytes> encode(const Value& root) {
    std::uint64_t root_index = 0;
    if (!number_value(root, 0, root_index)) return std::nullopt;
    const std::size_t ref_size = byte_width(objects_.size() - 1);
    const std::uint64_t objects_end = kHeaderSize + payload_size_ + ref_total_ * ref_size;
    const std::uint64_t last_offset = objects_end - object_size(objects_.back(), ref_size);
    const std::size_t offset_size = byte_width(last_offset);
    Bytes out(objects_end + objects_.size() * offset_size + kTrailerSize);
    p_ = out.data();
    std::memcpy(p_, kMagic.data(), kMagic.size());
    p_ += kMagic.size();
    std::uint8_t* table = out.data() + objects_end;
    for (const PlannedObject& object : objects_) {
      put_be(table, static_cast<std::uint64_t>(p_ - out.data()), offset_size);
      table += offset_size;
      write_object(object, ref_size);
    }
    std::uint8_t* trailer = table + 6;
    *trailer++ = static_cast<std::uint8_t>(offset_size);
    *trailer++ = static_cast<std::uint8_t>(ref_size);
    put_be(trailer, objects_.size(), 8);
    put_be(trailer + 8, root_index, 8);
    put_be(trailer + 16, objects_end, 8);
    return out;
  }

 private:
  // Object numbers are kept in 32 bits while encoding; no document in memory comes near this.
  static constexpr std::size_t kMaxObjects = std::numeric_limits<std::uint32_t>::max();
  // Dictionary entries whose texts are hashed ahead of their lookups.
  static constexpr std::size_t kLookahead = 16;

  bool number_value(const Value& v, int depth, std::uint64_t& index) {
    if (objects_.size() >= kMaxObjects) return false;
    switch (v.kind()) {
      case Kind::Null:
        return false;
      case Kind::String:
        return number_string(v.as_string(), index);
      case Kind::Boolean: {
        std::optional<std::uint64_t>& slot = *v.if_boolean() ? true_index_ : false_index_;
        if (!slot) slot = add_plain(v, 1);
        index = *slot;
        return true;
      }
      case Kind::Integer:
        index = number_integer(v);
        return true;
      case Kind::Real:
      case Kind::Date:
        index = add_plain(v, 9);
        return true;
      case Kind::Data:
        index = add_plain(v, marker_size(v.if_data()->size()) + v.if_data()->size());
        return true;
      case Kind::Array:
      case Kind::Dictionary:
        return depth < kMaxDepth && number_container(v, depth + 1, index);
    }
    return false;
  }

  bool number_container(const Value& v, int depth, std::uint64_t& index) {
    const bool is_dict = v.is_dictionary();
    const std::size_t count = is_dict ? v.as_dictionary().size() : v.as_array().size();
    const std::size_t ref_count = is_dict ? 2 * count : count;
    if (ref_count > std::numeric_limits<std::uint32_t>::max()) return false;
    index = objects_.size();
    const std::size_t first = refs_.size();
    objects_.push_back(PlannedObject{&v, first, static_cast<std::uint32_t>(ref_count),
                                     is_dict ? ObjectType::Dict : ObjectType::Array});
    payload_size_ += marker_size(count);
    ref_total_ += ref_count;
    refs_.resize(first + ref_count);
    if (!is_dict) {
      const Array& items = v.as_array();
      for (std::size_t i = 0; i < count; ++i)
        if (!number_value(items[i], depth, refs_[first + i])) return false;
      return true;
    }
    return number_entries(v.as_dictionary(), depth, first);
  }

  // A long list's string table outgrows the cache, so the lookups of a dictionary's key and
  // string-value texts are done in two steps: hash them all and start loading their slots,
  // then look them up.
  bool number_entries(const Dictionary& dict, int depth, std::size_t first) {
    const std::size_t count = dict.size();
    std::array<std::uint64_t, 2 * kLookahead> hashes;
    for (std::size_t start = 0; start < count; start += kLookahead) {
      const std::size_t end = std::min(count, start + kLookahead);
      for (std::size_t i = start; i < end; ++i) {
        const auto& [key, value] = dict.entry(i);
        hashes[2 * (i - start)] = hash_text(key);
        s_.strings.prefetch(hashes[2 * (i - start)]);
        if (const std::string* text = value.if_string()) {
          hashes[2 * (i - start) + 1] = hash_text(*text);
          s_.strings.prefetch(hashes[2 * (i - start) + 1]);
        }
      }
      for (std::size_t i = start; i < end; ++i) {
        const auto& [key, value] = dict.entry(i);
        std::uint64_t& key_ref = refs_[first + i];
        std::uint64_t& value_ref = refs_[first + count + i];
        if (!number_string(key, hashes[2 * (i - start)], key_ref)) return false;
        const std::string* text = value.if_string();
        if (text ? !number_string(*text, hashes[2 * (i - start) + 1], value_ref)
                 : !number_value(value, depth, value_ref))
          return false;
      }
    }
    return true;
  }

  // ASCII text is stored as is; anything else as UTF-16BE, converted here so its size is
  // known. Text that is not valid UTF-8 has no form.
  bool number_string(const std::string& s, std::uint64_t& index) {
    return number_string(s, hash_text(s), index);
  }

  bool number_string(const std::string& s, std::uint64_t hash, std::uint64_t& index) {
    if (objects_.size() >= kMaxObjects) return false;
    bool added = false;
    index = s_.strings.find_or_add(
        hash, static_cast<std::uint32_t>(objects_.size()), added, [&](std::uint32_t n) {
          return same_text(*static_cast<const std::string*>(objects_[n].source), s);
        });
    if (!added) return true;
    if (is_ascii(s)) {
      if (s.size() > std::numeric_limits<std::uint32_t>::max()) return false;
      objects_.push_back(
          PlannedObject{&s, 0, static_cast<std::uint32_t>(s.size()), ObjectType::Ascii});
      payload_size_ += marker_size(s.size()) + s.size();
      return true;
    }
    const std::size_t first = utf16_.size();
    if (!utf8_to_utf16be(s, utf16_)) return false;
    const std::size_t units = (utf16_.size() - first) / 2;
    if (units > std::numeric_limits<std::uint32_t>::max()) return false;
    objects_.push_back(
        PlannedObject{&s, first, static_cast<std::uint32_t>(units), ObjectType::Utf16});
    payload_size_ += marker_size(units) + 2 * units;
    return true;
  }

  std::uint64_t number_integer(const Value& v) {
    const Integer& i = *v.if_integer();
    const auto key = static_cast<std::uint64_t>(i.bits);
    auto& known = i.is_unsigned ? s_.unsigned_integers : s_.integers;
    bool added = false;
    const std::uint64_t index = known.find_or_add(key, static_cast<std::uint32_t>(objects_.size()),
                                                  added, [](std::uint32_t) { return true; });
    if (added) add_plain(v, integer_size(i));
    return index;
  }

  static std::size_t integer_size(const Integer& i) {
    if (i.is_unsigned) return 17;
    if (i.bits < 0) return 9;
    return 1 + int_width(static_cast<std::uint64_t>(i.bits));
  }

  std::uint64_t add_plain(const Value& v, std::size_t size) {
    objects_.push_back(PlannedObject{&v, 0, 0, ObjectType::Plain});
    payload_size_ += size;
    return objects_.size() - 1;
  }

  std::size_t object_size(const PlannedObject& o, std::size_t ref_size) const {
    switch (o.type) {
      case ObjectType::Ascii:
        return marker_size(o.count) + o.count;
      case ObjectType::Utf16:
        return marker_size(o.count) + 2 * std::size_t{o.count};
      case ObjectType::Array:
        return marker_size(o.count) + o.count * ref_size;
      case ObjectType::Dict:
        return marker_size(o.count / 2) + o.count * ref_size;
      case ObjectType::Plain:
        break;
    }
    const Value& v = *static_cast<const Value*>(o.source);
    switch (v.kind()) {
      case Kind::Integer:
        return integer_size(*v.if_integer());
      case Kind::Data:
        return marker_size(v.if_data()->size()) + v.if_data()->size();
      case Kind::Real:
      case Kind::Date:
        return 9;
      default:
        return 1;
    }
  }

  static void put_be(std::uint8_t* p, std::uint64_t v, std::size_t size) {
    for (std::size_t i = size; i-- > 0; v >>= 8)
      p[i] = static_cast<std::uint8_t>(v);
  }

  void put(std::uint64_t v, std::size_t size) {
    put_be(p_, v, size);
    p_ += size;
  }

  void put_bytes(const void* data, std::size_t size) {
    if (size) std::memcpy(p_, data, size);
    p_ += size;
  }

  void put_marker(std::uint8_t kind, std::uint64_t count) {
    if (count < 15) {
      *p_++ = static_cast<std::uint8_t>(kind | count);
      return;
    }
    *p_++ = kind | 0x0F;
    put_int(count);
  }

  // Non-negative values below 2^32 use the unsigned 1, 2 and 4-byte forms; others 8 bytes.
  void put_int(std::uint64_t v) {
    const std::size_t width = int_width(v);
    *p_++ = static_cast<std::uint8_t>(kInt | std::countr_zero(width));
    put(v, width);
  }

  void write_object(const PlannedObject& o, std::size_t ref_size) {
    switch (o.type) {
      case ObjectType::Ascii:
        put_marker(kAsciiString, o.count);
        put_bytes(static_cast<const std::string*>(o.source)->data(), o.count);
        return;
      case ObjectType::Utf16:
        put_marker(kUtf16String, o.count);
        put_bytes(utf16_.data() + o.first, 2 * std::size_t{o.count});
        return;
      case ObjectType::Array:
      case ObjectType::Dict:
        put_marker(o.type == ObjectType::Dict ? kDict : kArray,
                   o.type == ObjectType::Dict ? o.count / 2 : o.count);
        for (std::size_t i = 0; i < o.count; ++i)
          put(refs_[o.first + i], ref_size);
        return;
      case ObjectType::Plain:
        write_plain(*static_cast<const Value*>(o.source));
        return;
    }
  }

  void write_plain(const Value& v) {
    switch (v.kind()) {
      case Kind::Boolean:
        *p_++ = *v.if_boolean() ? kTrue : kFalse;
        return;
      case Kind::Integer:
        write_integer(*v.if_integer());
        return;
      case Kind::Real:
        *p_++ = kReal | 3;
        put(std::bit_cast<std::uint64_t>(*v.if_real()), 8);
        return;
      case Kind::Date:
        *p_++ = kDate;
        put(std::bit_cast<std::uint64_t>(v.if_date()->seconds), 8);
        return;
      case Kind::Data:
        put_marker(kData, v.if_data()->size());
        put_bytes(v.if_data()->data(), v.if_data()->size());
        return;
      default:
        return;
    }
  }

  void write_integer(const Integer& i) {
    if (i.is_unsigned) {  // above INT64_MAX: the 16-byte form with a zero high half
      *p_++ = kInt | 4;
      put(0, 8);
      put(static_cast<std::uint64_t>(i.bits), 8);
    } else if (i.bits < 0) {
      *p_++ = kInt | 3;
      put(static_cast<std::uint64_t>(i.bits), 8);
    } else {
      put_int(static_cast<std::uint64_t>(i.bits));
    }
  }

  WriteScratch& s_ = WriteScratch::for_new_document();
  std::vector<PlannedObject>& objects_ = s_.objects;
  std::vector<std::uint64_t>& refs_ = s_.refs;
  std::string& utf16_ = s_.utf16;
  std::optional<std::uint64_t> true_index_;
  std::optional<std::uint64_t> false_index_;
  std::uint64_t payload_size_ = 0;  // every object's bytes except references
  std::uint64_t ref_total_ = 0;
  std::uint8_t* p_ = nullptr;
};

}  // namespace

}  // namespace bplist

std::optional<Bytes> encode_binary_plist(const Value& root) {
  return bplist::Encoder().encode(root);
}

}  // namespace orv

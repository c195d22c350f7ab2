// bplist00 layout: the 8-byte magic, the objects, an offset table (one offset per object, each
// offset_size bytes, big-endian) and a 32-byte trailer: 6 unused bytes, offset_size, ref_size,
// then object count, top object and offset-table position as 64-bit big-endian numbers.
// Each object starts with a marker byte: high nibble = kind, low nibble = size or count
// (0xF: the count follows as an integer object).
#include "platform/plist/binary_plist.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/plist/utf.h"

namespace orv {

using plist_detail::is_ascii;
using plist_detail::utf16be_to_utf8;
using plist_detail::utf8_to_utf16be;

namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;
constexpr int kMaxDepth = 512;

enum Marker : std::uint8_t {
  kFalse = 0x08,
  kTrue = 0x09,
  kInt = 0x10,
  kReal = 0x20,
  kDate = 0x33,
  kData = 0x40,
  kAsciiString = 0x50,
  kUtf16String = 0x60,
  kArray = 0xA0,
  kDict = 0xD0,
};

std::uint64_t read_be(const std::uint8_t* p, std::size_t size) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < size; ++i)
    v = (v << 8) | p[i];
  return v;
}

// Reads a whole document. Objects are decoded on demand from the top object down; a shared
// object is decoded once per reference, which the expansion budget keeps linear in the file.
class Decoder {
 public:
  explicit Decoder(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::optional<Value> decode() {
    if (!read_trailer()) return std::nullopt;
    on_path_.assign(object_count_, 0);
    // The decoded tree may repeat shared objects; cap it relative to the file's own size so a
    // small file cannot expand into a huge tree (the binary form of "billion laughs").
    budget_ = bytes_.size() * kExpansionFactor + kExpansionFloor;
    Value root;
    if (!decode_object(top_object_, 0, root)) return std::nullopt;
    return root;
  }

 private:
  static constexpr std::uint64_t kExpansionFactor = 64;
  static constexpr std::uint64_t kExpansionFloor = 8u << 20;
  static constexpr std::uint64_t kNodeWeight = 32;

  bool read_trailer() {
    const std::size_t size = bytes_.size();
    if (size < kHeaderSize + 1 + kTrailerSize) return false;
    if (std::memcmp(bytes_.data(), kMagic.data(), kMagic.size()) != 0) return false;
    const std::uint8_t* t = bytes_.data() + size - kTrailerSize;
    offset_size_ = t[6];
    ref_size_ = t[7];
    object_count_ = read_be(t + 8, 8);
    top_object_ = read_be(t + 16, 8);
    table_offset_ = read_be(t + 24, 8);
    if (offset_size_ < 1 || offset_size_ > 8 || ref_size_ < 1 || ref_size_ > 8) return false;
    if (object_count_ == 0 || top_object_ >= object_count_) return false;
    // The table lies after the header and ends at or before the trailer.
    const std::uint64_t table_space = size - kTrailerSize;
    if (table_offset_ <= kHeaderSize || table_offset_ > table_space) return false;
    if (object_count_ > (table_space - table_offset_) / offset_size_) return false;
    return true;
  }

  // The position of an object, which must lie between the header and the offset table.
  bool object_offset(std::uint64_t index, std::uint64_t& offset) const {
    if (index >= object_count_) return false;
    offset = read_be(bytes_.data() + table_offset_ + index * offset_size_, offset_size_);
    return offset >= kHeaderSize && offset < table_offset_;
  }

  // Bytes from pos up to the offset table, the region every object must fit in.
  std::uint64_t space_from(std::uint64_t pos) const {
    return pos <= table_offset_ ? table_offset_ - pos : 0;
  }

  bool charge(std::uint64_t weight) {
    if (weight > budget_) return false;
    budget_ -= weight;
    return true;
  }

  // Reads the count in a marker's low nibble, or the integer object that follows a 0xF nibble.
  // pos is left at the first byte after the count.
  bool read_count(std::uint8_t marker, std::uint64_t& pos, std::uint64_t& count) const {
    count = marker & 0x0F;
    if (count != 0x0F) return true;
    if (space_from(pos) < 1) return false;
    const std::uint8_t int_marker = bytes_[pos++];
    if ((int_marker & 0xF0) != kInt || (int_marker & 0x0F) > 3) return false;
    const std::size_t width = std::size_t{1} << (int_marker & 0x0F);
    if (space_from(pos) < width) return false;
    count = read_be(bytes_.data() + pos, width);
    pos += width;
    return true;
  }

  bool read_ref(std::uint64_t pos, std::uint64_t& ref) const {
    ref = read_be(bytes_.data() + pos, ref_size_);
    return ref < object_count_;
  }

  bool decode_object(std::uint64_t index, int depth, Value& out) {
    std::uint64_t pos = 0;
    if (!object_offset(index, pos) || !charge(kNodeWeight)) return false;
    const std::uint8_t marker = bytes_[pos++];
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
      case kArray:
      case kDict:
        return decode_container(index, marker, pos, depth + 1, out);
      default:
        // Null and fill bytes, UIDs, sets and the unassigned kinds have no Value form here:
        // refusing keeps a read-then-write round trip faithful.
        return false;
    }
  }

  static bool decode_simple(std::uint8_t marker, Value& out) {
    if (marker != kFalse && marker != kTrue) return false;
    out = Value(marker == kTrue);
    return true;
  }

  bool decode_int(std::uint8_t marker, std::uint64_t pos, Value& out) const {
    const unsigned log_width = marker & 0x0F;
    if (log_width > 4) return false;
    const std::size_t width = std::size_t{1} << log_width;
    if (space_from(pos) < width) return false;
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
        return false;
      }
    }
    return true;
  }

  bool decode_real(std::uint8_t marker, std::uint64_t pos, Value& out) const {
    if (marker == 0x22 && space_from(pos) >= 4) {
      out = Value(static_cast<double>(
          std::bit_cast<float>(static_cast<std::uint32_t>(read_be(bytes_.data() + pos, 4)))));
      return true;
    }
    if (marker == 0x23 && space_from(pos) >= 8) {
      out = Value(std::bit_cast<double>(read_be(bytes_.data() + pos, 8)));
      return true;
    }
    return false;
  }

  bool decode_date(std::uint8_t marker, std::uint64_t pos, Value& out) const {
    if (marker != kDate || space_from(pos) < 8) return false;
    out = Value(Date{std::bit_cast<double>(read_be(bytes_.data() + pos, 8))});
    return true;
  }

  bool decode_data(std::uint8_t marker, std::uint64_t pos, Value& out) {
    std::uint64_t length = 0;
    if (!read_count(marker, pos, length) || length > space_from(pos) || !charge(length))
      return false;
    const std::uint8_t* p = bytes_.data() + pos;
    out = Value::data(Bytes(p, p + length));
    return true;
  }

  bool decode_string(std::uint8_t marker, std::uint64_t pos, std::string& out) {
    std::uint64_t length = 0;
    if (!read_count(marker, pos, length)) return false;
    const char* p = reinterpret_cast<const char*>(bytes_.data() + pos);
    if ((marker & 0xF0) == kAsciiString) {
      if (length > space_from(pos) || !charge(length)) return false;
      std::string_view text(p, length);
      if (!is_ascii(text)) return false;
      out.assign(text);
      return true;
    }
    if (length > space_from(pos) / 2 || !charge(length * 3)) return false;
    return utf16be_to_utf8(std::string_view(p, length * 2), out);
  }

  bool decode_container(std::uint64_t index, std::uint8_t marker, std::uint64_t pos, int depth,
                        Value& out) {
    if (depth > kMaxDepth || on_path_[index]) return false;  // too deep, or a cycle
    std::uint64_t count = 0;
    if (!read_count(marker, pos, count)) return false;
    const std::uint64_t refs_per_entry = (marker & 0xF0) == kDict ? 2 : 1;
    // Check the file holds every reference before reserving anything by the count.
    if (count > space_from(pos) / ref_size_ / refs_per_entry) return false;
    on_path_[index] = 1;
    const bool ok = (marker & 0xF0) == kDict ? decode_dict(pos, count, depth, out)
                                             : decode_array(pos, count, depth, out);
    on_path_[index] = 0;
    return ok;
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
    const std::uint64_t values_pos = pos + count * ref_size_;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint64_t key_ref = 0;
      std::uint64_t value_ref = 0;
      std::string key;
      Value value;
      if (!read_ref(pos + i * ref_size_, key_ref) || !decode_key(key_ref, key) ||
          !read_ref(values_pos + i * ref_size_, value_ref) ||
          !decode_object(value_ref, depth, value) ||
          !dict.insert_new(std::move(key), std::move(value)))
        return false;
    }
    out = Value(std::move(dict));
    return true;
  }

  bool decode_key(std::uint64_t index, std::string& key) {
    std::uint64_t pos = 0;
    if (!object_offset(index, pos) || !charge(kNodeWeight)) return false;
    const std::uint8_t marker = bytes_[pos++];
    const std::uint8_t kind = marker & 0xF0;
    return (kind == kAsciiString || kind == kUtf16String) && decode_string(marker, pos, key);
  }

  std::span<const std::uint8_t> bytes_;
  std::uint8_t offset_size_ = 0;
  std::uint8_t ref_size_ = 0;
  std::uint64_t object_count_ = 0;
  std::uint64_t top_object_ = 0;
  std::uint64_t table_offset_ = 0;
  std::uint64_t budget_ = 0;
  std::vector<std::uint8_t> on_path_;  // 1 for the containers being decoded (cycle check)
};

std::size_t byte_width(std::uint64_t v) {
  std::size_t width = 1;
  while (width < 8 && (v >> (8 * width)) != 0)
    ++width;
  return width;
}

// Writes a document in two passes: first every object gets a number (strings, booleans and
// integers are stored once however often they occur), then the objects are written in number
// order with references of the smallest width that holds the highest number.
class Encoder {
 public:
  std::optional<Bytes> encode(const Value& root) {
    if (!number(root)) return std::nullopt;
    const std::size_t ref_size = byte_width(objects_.size() - 1);
    out_.reserve(kHeaderSize + objects_.size() * 8 + refs_.size() * ref_size + kTrailerSize);
    out_.insert(out_.end(), kMagic.begin(), kMagic.end());
    std::vector<std::uint64_t> offsets;
    offsets.reserve(objects_.size());
    for (const Object& object : objects_) {
      offsets.push_back(out_.size());
      if (!write_object(object, ref_size)) return std::nullopt;
    }
    const std::uint64_t table_offset = out_.size();
    const std::size_t offset_size = byte_width(offsets.empty() ? 0 : offsets.back());
    for (std::uint64_t offset : offsets)
      put_be(offset, offset_size);
    std::array<std::uint8_t, 6> unused{};
    out_.insert(out_.end(), unused.begin(), unused.end());
    out_.push_back(static_cast<std::uint8_t>(offset_size));
    out_.push_back(static_cast<std::uint8_t>(ref_size));
    put_be(objects_.size(), 8);
    put_be(0, 8);  // the root is object 0
    put_be(table_offset, 8);
    return std::move(out_);
  }

 private:
  // An object to write: a Value, or a dictionary key (key != nullptr). Containers own the
  // range [first_ref, first_ref + ref_count) of refs_.
  struct Object {
    const Value* value = nullptr;
    const std::string* key = nullptr;
    std::size_t first_ref = 0;
    std::size_t ref_count = 0;
  };

  bool number(const Value& root) {
    std::uint64_t index = 0;
    return number_value(root, 0, index);
  }

  // Numbers a value and everything in it; index receives the value's object number.
  bool number_value(const Value& v, int depth, std::uint64_t& index) {
    switch (v.kind()) {
      case Kind::Null:
        return false;
      case Kind::String:
        index = number_string(v.as_string(), &v, nullptr);
        return true;
      case Kind::Boolean:
        index = number_shared(*v.if_boolean() ? true_index_ : false_index_, v);
        return true;
      case Kind::Integer:
        index = number_integer(v);
        return true;
      case Kind::Array:
      case Kind::Dictionary:
        return depth < kMaxDepth && number_container(v, depth + 1, index);
      default:
        index = add_object(Object{&v});
        return true;
    }
  }

  bool number_container(const Value& v, int depth, std::uint64_t& index) {
    index = add_object(Object{&v});
    const bool is_dict = v.is_dictionary();
    const std::size_t count = is_dict ? v.as_dictionary().size() : v.as_array().size();
    const std::size_t first = refs_.size();
    refs_.resize(first + (is_dict ? 2 * count : count));
    objects_[index].first_ref = first;
    objects_[index].ref_count = refs_.size() - first;
    if (!is_dict) {
      const Array& items = v.as_array();
      for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t child = 0;
        if (!number_value(items[i], depth, child)) return false;
        refs_[first + i] = child;
      }
      return true;
    }
    std::size_t i = 0;
    for (const auto& [key, value] : v.as_dictionary()) {
      refs_[first + i] = number_string(key, nullptr, &key);
      std::uint64_t child = 0;
      if (!number_value(value, depth, child)) return false;
      refs_[first + count + i] = child;
      ++i;
    }
    return true;
  }

  std::uint64_t number_string(const std::string& s, const Value* value, const std::string* key) {
    auto [it, added] = strings_.try_emplace(std::string_view(s), objects_.size());
    if (added) add_object(Object{value, key});
    return it->second;
  }

  std::uint64_t number_shared(std::optional<std::uint64_t>& slot, const Value& v) {
    if (!slot) slot = add_object(Object{&v});
    return *slot;
  }

  std::uint64_t number_integer(const Value& v) {
    const Integer& i = *v.if_integer();
    auto& known = i.is_unsigned ? unsigned_integers_ : integers_;
    auto [it, added] = known.try_emplace(i.bits, objects_.size());
    if (added) add_object(Object{&v});
    return it->second;
  }

  std::uint64_t add_object(Object object) {
    objects_.push_back(object);
    return objects_.size() - 1;
  }

  void put_be(std::uint64_t v, std::size_t size) {
    for (std::size_t i = size; i-- > 0;)
      out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }

  void put_marker(std::uint8_t kind, std::uint64_t count) {
    if (count < 15) {
      out_.push_back(static_cast<std::uint8_t>(kind | count));
      return;
    }
    out_.push_back(kind | 0x0F);
    put_int(count);
  }

  // Non-negative values below 2^32 use the unsigned 1, 2 and 4-byte forms; others 8 bytes.
  void put_int(std::uint64_t v) {
    const std::size_t width = byte_width(v);
    const unsigned log_width = width == 1 ? 0 : width == 2 ? 1 : width <= 4 ? 2 : 3;
    out_.push_back(static_cast<std::uint8_t>(kInt | log_width));
    put_be(v, std::size_t{1} << log_width);
  }

  bool write_object(const Object& object, std::size_t ref_size) {
    if (object.key) return write_string(*object.key);
    const Value& v = *object.value;
    switch (v.kind()) {
      case Kind::Boolean:
        out_.push_back(*v.if_boolean() ? kTrue : kFalse);
        return true;
      case Kind::Integer:
        write_integer(*v.if_integer());
        return true;
      case Kind::Real:
        out_.push_back(kReal | 3);
        put_be(std::bit_cast<std::uint64_t>(*v.if_real()), 8);
        return true;
      case Kind::Date:
        out_.push_back(kDate);
        put_be(std::bit_cast<std::uint64_t>(v.if_date()->seconds), 8);
        return true;
      case Kind::Data: {
        const Bytes& data = *v.if_data();
        put_marker(kData, data.size());
        out_.insert(out_.end(), data.begin(), data.end());
        return true;
      }
      case Kind::String:
        return write_string(v.as_string());
      case Kind::Array:
      case Kind::Dictionary:
        write_container(object, v.is_dictionary(), ref_size);
        return true;
      case Kind::Null:
        break;
    }
    return false;
  }

  void write_integer(const Integer& i) {
    if (i.is_unsigned) {  // above INT64_MAX: the 16-byte form with a zero high half
      out_.push_back(kInt | 4);
      put_be(0, 8);
      put_be(static_cast<std::uint64_t>(i.bits), 8);
    } else if (i.bits < 0) {
      out_.push_back(kInt | 3);
      put_be(static_cast<std::uint64_t>(i.bits), 8);
    } else {
      put_int(static_cast<std::uint64_t>(i.bits));
    }
  }

  // ASCII text as is; anything else as UTF-16BE. Text that is not valid UTF-8 has no form.
  bool write_string(const std::string& s) {
    if (is_ascii(s)) {
      put_marker(kAsciiString, s.size());
      out_.insert(out_.end(), s.begin(), s.end());
      return true;
    }
    utf16_.clear();
    if (!utf8_to_utf16be(s, utf16_)) return false;
    put_marker(kUtf16String, utf16_.size() / 2);
    out_.insert(out_.end(), utf16_.begin(), utf16_.end());
    return true;
  }

  void write_container(const Object& object, bool is_dict, std::size_t ref_size) {
    put_marker(is_dict ? kDict : kArray, is_dict ? object.ref_count / 2 : object.ref_count);
    for (std::size_t i = 0; i < object.ref_count; ++i)
      put_be(refs_[object.first_ref + i], ref_size);
  }

  std::vector<Object> objects_;
  std::vector<std::uint64_t> refs_;
  std::unordered_map<std::string_view, std::uint64_t> strings_;
  std::unordered_map<std::int64_t, std::uint64_t> integers_;
  std::unordered_map<std::int64_t, std::uint64_t> unsigned_integers_;
  std::optional<std::uint64_t> true_index_;
  std::optional<std::uint64_t> false_index_;
  std::string utf16_;
  Bytes out_;
};

}  // namespace

std::optional<Value> decode_binary_plist(std::span<const std::uint8_t> bytes) {
  return Decoder(bytes).decode();
}

std::optional<Bytes> encode_binary_plist(const Value& root) {
  return Encoder().encode(root);
}

}  // namespace orv

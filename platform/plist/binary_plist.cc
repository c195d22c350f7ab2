// bplist00 layout: the 8-byte magic, the objects, an offset table (one offset per object, each
// offset_size bytes, big-endian) and a 32-byte trailer: 6 unused bytes, offset_size, ref_size,
// then object count, top object and offset-table position as 64-bit big-endian numbers.
// Each object starts with a marker byte: high nibble = kind, low nibble = size or count
// (0xF: the count follows as an integer object).
#include "platform/plist/binary_plist.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
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

// read_be for a field (1 to 8 bytes) that has at least 8 readable bytes from p on, as every
// reference and offset has: the 32-byte trailer follows them.
std::uint64_t read_be_padded(const std::uint8_t* p, std::size_t size) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v >> (8 * (8 - size));
}

// Marks a container as being decoded for as long as the mark lives, exceptions included (the
// marks are reused by the next document on the thread).
class PathMark {
 public:
  explicit PathMark(std::uint8_t& mark) : mark_(mark) { mark_ = 1; }
  ~PathMark() { mark_ = 0; }
  PathMark(const PathMark&) = delete;
  PathMark& operator=(const PathMark&) = delete;

 private:
  std::uint8_t& mark_;
};

// Reads a whole document. Objects are decoded on demand from the top object down; a shared
// object is decoded once per reference, which the expansion budget keeps linear in the file.
class Decoder {
 public:
  explicit Decoder(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::optional<Value> decode() {
    if (!read_trailer()) return std::nullopt;
    // Reused per thread; every mark and slot is back to 0 when a document is done.
    fit_to_document(on_path_);
    fit_to_document(key_slot_);
    fit_to_document(leaf_slot_);
    SlotReset key_reset(key_slot_, keys_);
    SlotReset leaf_reset(leaf_slot_, leaves_);
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
  static constexpr std::size_t kSmallDict = 16;

  // Texts up to this length live inside a std::string, so copying one allocates nothing.
  static constexpr std::size_t kShortText = 15;

  struct CachedLeaf {
    std::uint64_t object;
    Value value;
    std::uint64_t weight;  // what decoding it charged to the budget
  };

  struct CachedKey {
    std::uint64_t object;
    std::string text;
    std::uint32_t text_id;  // the same for equal texts
  };
  using KeyList = std::vector<std::unique_ptr<CachedKey>>;

  // The key texts a small dictionary has had so far, by number: a bit each for a document's
  // first 64 texts (where the keys records share are), a list for the others.
  class SeenKeys {
   public:
    // False when the text was seen before.
    bool add(std::uint32_t text_id) {
      if (text_id < 64) {
        const std::uint64_t bit = std::uint64_t{1} << text_id;
        if (low_ & bit) return false;
        low_ |= bit;
        return true;
      }
      const auto end = high_.begin() + static_cast<std::ptrdiff_t>(high_count_);
      if (std::find(high_.begin(), end, text_id) != end) return false;
      high_[high_count_++] = text_id;
      return true;
    }

   private:
    std::uint64_t low_ = 0;
    std::array<std::uint32_t, kSmallDict> high_;
    std::size_t high_count_ = 0;
  };

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
    offset = read_be_padded(bytes_.data() + table_offset_ + index * offset_size_, offset_size_);
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
    ref = read_be_padded(bytes_.data() + pos, ref_size_);
    return ref < object_count_;
  }

  bool decode_object(std::uint64_t index, int depth, Value& out) {
    if (index >= object_count_) return false;
    if (const std::uint32_t slot = leaf_slot_[index]) return copy_leaf(leaves_[slot - 1], out);
    const std::uint64_t budget_before = budget_;
    std::uint64_t pos = 0;
    if (!object_offset(index, pos) || !charge(kNodeWeight)) return false;
    const std::uint8_t marker = bytes_[pos++];
    const std::uint8_t kind = marker & 0xF0;
    if (kind == kArray || kind == kDict)
      return decode_container(index, marker, pos, depth + 1, out);
    if (!decode_leaf(marker, pos, out)) return false;
    remember_leaf(index, out, budget_before - budget_);
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
        // Null and fill bytes, UIDs, sets and the unassigned kinds have no Value form here:
        // refusing keeps a read-then-write round trip faithful.
        return false;
    }
  }

  // Encoders write a repeated text or number once and refer to it from every place it occurs
  // (the same program path, user or flag in every record). Such a leaf is decoded once and
  // copied from then on, charged as if decoded again. Only leaves that copy without allocating
  // are kept: a long text is usually unique, and keeping it would cost a copy for nothing.
  void remember_leaf(std::uint64_t index, const Value& leaf, std::uint64_t weight) {
    if (const std::string* text = leaf.if_string(); text && text->size() > kShortText) return;
    leaves_.push_back(CachedLeaf{index, leaf, weight});
    leaf_slot_[index] = static_cast<std::uint32_t>(leaves_.size());
  }

  // out is always a fresh null value here. Building the copy in its place avoids the
  // variant's assignment, which copies through a temporary; the copy cannot throw (a short
  // text, a scalar, or shared data), so out is never left destroyed.
  bool copy_leaf(const CachedLeaf& leaf, Value& out) {
    if (!charge(leaf.weight)) return false;
    std::destroy_at(&out);
    std::construct_at(&out, leaf.value);
    return true;
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
    PathMark mark(on_path_[index]);
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
    // Records are small dictionaries: their keys are told apart by the texts' numbers, so no
    // key text is compared. Larger dictionaries use the dictionary's own index.
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
        // Decoded straight into its entry: room for every entry was reserved above.
        if (!seen.add(key->text_id)) return false;
        if (!decode_object(value_ref, depth, dict.append_absent(key->text))) return false;
        continue;
      }
      Value value;
      if (!decode_object(value_ref, depth, value) || !dict.try_emplace(key->text, std::move(value)))
        return false;
    }
    out = Value(std::move(dict));
    return true;
  }

  // A key object, decoded once per document and copied from then on: records repeat the same
  // keys, and encoders share them as one object. Equal texts get the same number even when
  // they come from different objects.
  const CachedKey* decode_key(std::uint64_t index) {
    if (index >= object_count_) return nullptr;
    if (const std::uint32_t slot = key_slot_[index]) {
      const CachedKey& key = *keys_[slot - 1];
      if (!charge(kNodeWeight + key.text.size())) return nullptr;
      return &key;
    }
    std::uint64_t pos = 0;
    if (!object_offset(index, pos) || !charge(kNodeWeight)) return nullptr;
    const std::uint8_t marker = bytes_[pos++];
    const std::uint8_t kind = marker & 0xF0;
    std::string text;
    if ((kind != kAsciiString && kind != kUtf16String) || !decode_string(marker, pos, text))
      return nullptr;
    CachedKey& key =
        *keys_.emplace_back(std::make_unique<CachedKey>(CachedKey{index, std::move(text), 0}));
    key.text_id =
        text_ids_.emplace(key.text, static_cast<std::uint32_t>(text_ids_.size())).first->second;
    key_slot_[index] = static_cast<std::uint32_t>(keys_.size());
    return &key;
  }

  std::span<const std::uint8_t> bytes_;
  std::uint8_t offset_size_ = 0;
  std::uint8_t ref_size_ = 0;
  std::uint64_t object_count_ = 0;
  std::uint64_t top_object_ = 0;
  std::uint64_t table_offset_ = 0;
  std::uint64_t budget_ = 0;
  static constexpr std::size_t kPathKept = 1u << 20;
  static std::vector<std::uint8_t>& path_marks() {
    thread_local std::vector<std::uint8_t> marks;
    return marks;
  }
  // 1 for the containers being decoded (cycle check).
  std::vector<std::uint8_t>& on_path_ = path_marks();

  static std::uint64_t object_of(const CachedLeaf& leaf) { return leaf.object; }
  static std::uint64_t object_of(const std::unique_ptr<CachedKey>& key) { return key->object; }

  // Clears the slots a document filled for its cached objects, however its decoding ends.
  template <typename Cache>
  class SlotReset {
   public:
    SlotReset(std::vector<std::uint32_t>& slots, const Cache& cache)
        : slots_(slots), cache_(cache) {}
    ~SlotReset() {
      for (const auto& item : cache_)
        slots_[object_of(item)] = 0;
    }
    SlotReset(const SlotReset&) = delete;
    SlotReset& operator=(const SlotReset&) = delete;

   private:
    std::vector<std::uint32_t>& slots_;
    const Cache& cache_;
  };

  // Grows a per-thread table to this document's object count, and gives it back first when an
  // earlier, huge document left it large and this one is small.
  template <typename T>
  void fit_to_document(std::vector<T>& table) const {
    if (table.size() > kPathKept && object_count_ <= kPathKept) table = {};
    if (table.size() < object_count_) table.resize(object_count_);
  }

  // One table per thread for each use (Tag tells them apart), reused by every document.
  template <typename Tag>
  static std::vector<std::uint32_t>& slots_per_thread() {
    thread_local std::vector<std::uint32_t> slots;
    return slots;
  }
  // Per leaf object: its position + 1 in leaves_, 0 while not cached. All 0 between documents.
  std::vector<std::uint32_t>& leaf_slot_ = slots_per_thread<CachedLeaf>();
  std::vector<CachedLeaf> leaves_;
  // Per key object: its position + 1 in keys_, 0 while not decoded yet. All 0 between
  // documents.
  std::vector<std::uint32_t>& key_slot_ = slots_per_thread<CachedKey>();
  // Each key on its own, so the keys handed out stay where they are as keys are added.
  KeyList keys_;
  std::unordered_map<std::string_view, std::uint32_t> text_ids_;
};

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

std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 31;
  h *= 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

// The bytes of a tail shorter than 8, read without a byte-wise copy: a partial copy followed by
// a whole-word load stalls on store forwarding, and this runs once per string written.
std::uint64_t load_short(const char* p, std::size_t n) {
  if (n >= 4) {
    std::uint32_t head;
    std::uint32_t tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, p + n - 4, 4);
    return (std::uint64_t{head} << 32) | tail;
  }
  if (n == 0) return 0;
  const auto byte = [p](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])}; };
  return (byte(0) << 16) | (byte(n / 2) << 8) | byte(n - 1);
}

// Equality of two texts; those of up to 16 bytes, which keys and most values are, are compared
// by a few word loads instead of a call. The loads cover every byte (load_short does for its
// lengths), so equal words mean equal texts.
bool same_text(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  if (n < 8) return load_short(a.data(), n) == load_short(b.data(), n);
  if (n > 16) return std::memcmp(a.data(), b.data(), n) == 0;
  std::uint64_t a_head, a_tail, b_head, b_tail;
  std::memcpy(&a_head, a.data(), 8);
  std::memcpy(&b_head, b.data(), 8);
  std::memcpy(&a_tail, a.data() + n - 8, 8);
  std::memcpy(&b_tail, b.data() + n - 8, 8);
  return ((a_head ^ b_head) | (a_tail ^ b_tail)) == 0;
}

std::uint64_t hash_text(std::string_view s) {
  std::uint64_t h = s.size();
  const char* p = s.data();
  const std::size_t n = s.size();
  if (n < 8) return mix(h ^ load_short(p, n));
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    h = mix(h ^ w);
  }
  if (i == n) return h;
  std::uint64_t last;  // the final 8 bytes, overlapping the words already mixed
  std::memcpy(&last, p + n - 8, 8);
  return mix(h ^ last);
}

// Open-addressing map from a 64-bit key (an integer, or a string's hash) to an object number,
// cleared in constant time by bumping a generation, so one table serves every encode on a
// thread without reallocating. Slots are 16 bytes so a few thousand fit in the first-level
// cache; a string's text is compared only when its whole 64-bit hash matches.
class ObjectIndex {
 public:
  void clear() {
    used_ = 0;
    if (++generation_ == 0) {  // wrapped: forget every slot for real
      std::fill(slots_.begin(), slots_.end(), Slot{});
      generation_ = 1;
    }
  }

  // The number stored for key where same_object(number) holds, or next (stored now) when there
  // is none.
  template <typename SameObject>
  std::uint32_t find_or_add(std::uint64_t key, std::uint32_t next, bool& added,
                            SameObject&& same_object) {
    if (2 * (used_ + 1) > slots_.size()) grow();
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = mix(key) & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.generation != generation_) {
        slot = Slot{key, next, generation_};
        ++used_;
        added = true;
        return next;
      }
      if (slot.key == key && same_object(slot.number)) {
        added = false;
        return slot.number;
      }
    }
  }

  std::size_t capacity() const { return slots_.size(); }

  void prefetch(std::uint64_t key) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[mix(key) & (slots_.size() - 1)]);
  }

 private:
  struct Slot {
    std::uint64_t key = 0;
    std::uint32_t number = 0;
    std::uint32_t generation = 0;
  };

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(std::max<std::size_t>(64, old.size() * 2), Slot{});
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
      if (s.generation != generation_) continue;
      std::size_t i = mix(s.key) & mask;
      while (slots_[i].generation == generation_)
        i = (i + 1) & mask;
      slots_[i] = s;
    }
  }

  std::vector<Slot> slots_;
  std::size_t used_ = 0;
  std::uint32_t generation_ = 1;
};

// Writes a document in two passes. The first numbers every object (strings, booleans and
// integers are stored once however often they occur) and adds up the exact size; the second
// writes the objects in number order into a buffer of that size, with references of the
// smallest width that holds the highest number.
class Encoder {
 public:
  std::optional<Bytes> encode(const Value& root) {
    reset();
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
    for (const Object& object : objects_) {
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
  enum class Type : std::uint8_t { Plain, Ascii, Utf16, Array, Dict };

  // An object to write. source is the Value, or for strings the text; containers own
  // refs_[first, first + count); UTF-16 strings own utf16_[first, first + 2 * count).
  struct Object {
    const void* source;
    std::uint64_t first;
    std::uint32_t count;
    Type type;
  };

  // Working storage kept per thread between calls; released when a call made it large.
  struct Scratch {
    std::vector<Object> objects;
    std::vector<std::uint64_t> refs;
    std::string utf16;
    ObjectIndex strings;
    ObjectIndex integers;
    ObjectIndex unsigned_integers;
  };
  static constexpr std::size_t kScratchKept = 1u << 20;
  // Object numbers are kept in 32 bits while encoding; no document in memory comes near this.
  static constexpr std::size_t kMaxObjects = std::numeric_limits<std::uint32_t>::max();
  // Dictionary entries whose texts are hashed ahead of their lookups.
  static constexpr std::size_t kLookahead = 16;

  static Scratch& scratch() {
    thread_local Scratch s;
    return s;
  }

  void reset() {
    if (objects_.capacity() > kScratchKept || s_.strings.capacity() > kScratchKept ||
        s_.integers.capacity() > kScratchKept || s_.unsigned_integers.capacity() > kScratchKept)
      s_ = Scratch{};
    objects_.clear();
    refs_.clear();
    utf16_.clear();
    s_.strings.clear();
    s_.integers.clear();
    s_.unsigned_integers.clear();
  }

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
    objects_.push_back(Object{&v, first, static_cast<std::uint32_t>(ref_count),
                              is_dict ? Type::Dict : Type::Array});
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
      objects_.push_back(Object{&s, 0, static_cast<std::uint32_t>(s.size()), Type::Ascii});
      payload_size_ += marker_size(s.size()) + s.size();
      return true;
    }
    const std::size_t first = utf16_.size();
    if (!utf8_to_utf16be(s, utf16_)) return false;
    const std::size_t units = (utf16_.size() - first) / 2;
    if (units > std::numeric_limits<std::uint32_t>::max()) return false;
    objects_.push_back(Object{&s, first, static_cast<std::uint32_t>(units), Type::Utf16});
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
    objects_.push_back(Object{&v, 0, 0, Type::Plain});
    payload_size_ += size;
    return objects_.size() - 1;
  }

  std::size_t object_size(const Object& o, std::size_t ref_size) const {
    switch (o.type) {
      case Type::Ascii:
        return marker_size(o.count) + o.count;
      case Type::Utf16:
        return marker_size(o.count) + 2 * std::size_t{o.count};
      case Type::Array:
        return marker_size(o.count) + o.count * ref_size;
      case Type::Dict:
        return marker_size(o.count / 2) + o.count * ref_size;
      case Type::Plain:
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

  void write_object(const Object& o, std::size_t ref_size) {
    switch (o.type) {
      case Type::Ascii:
        put_marker(kAsciiString, o.count);
        put_bytes(static_cast<const std::string*>(o.source)->data(), o.count);
        return;
      case Type::Utf16:
        put_marker(kUtf16String, o.count);
        put_bytes(utf16_.data() + o.first, 2 * std::size_t{o.count});
        return;
      case Type::Array:
      case Type::Dict:
        put_marker(o.type == Type::Dict ? kDict : kArray,
                   o.type == Type::Dict ? o.count / 2 : o.count);
        for (std::size_t i = 0; i < o.count; ++i)
          put(refs_[o.first + i], ref_size);
        return;
      case Type::Plain:
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

  Scratch& s_ = scratch();
  std::vector<Object>& objects_ = s_.objects;
  std::vector<std::uint64_t>& refs_ = s_.refs;
  std::string& utf16_ = s_.utf16;
  std::optional<std::uint64_t> true_index_;
  std::optional<std::uint64_t> false_index_;
  std::uint64_t payload_size_ = 0;  // every object's bytes except references
  std::uint64_t ref_total_ = 0;
  std::uint8_t* p_ = nullptr;
};

}  // namespace

std::optional<Value> decode_binary_plist(std::span<const std::uint8_t> bytes) {
  return Decoder(bytes).decode();
}

std::optional<Bytes> encode_binary_plist(const Value& root) {
  return Encoder().encode(root);
}

}  // namespace orv

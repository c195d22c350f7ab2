// The binary writer's hash table: finds an object already numbered for a repeated text or
// number, so that each is written once however often it occurs. The table lives as long as
// the thread and is cleared in constant time between documents.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace orv::bplist {

inline std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 31;
  h *= 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

// The bytes of a tail shorter than 8, read without a byte-wise copy: a partial copy followed by
// a whole-word load stalls on store forwarding, and this runs once per string written.
inline std::uint64_t load_short(const char* p, std::size_t n) {
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
inline bool same_text(std::string_view a, std::string_view b) {
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

// Static, since only the writer includes this: a function of one file is called more cheaply
// than an exported one, and this one runs for every text written.
static std::uint64_t hash_text(std::string_view s) {
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

}  // namespace orv::bplist

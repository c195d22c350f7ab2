// Speed-ups for the binary reader, apart from the format it reads. Records repeat the same keys
// and many of the same short texts and numbers, and encoders store each once and refer to it
// from every record: such objects are decoded once per document and copied from then on. The
// per-object tables this needs, and the cycle check's marks, are kept per thread and are all
// zero again after every document, so no document pays for allocating or clearing them.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/value/value.h"

namespace orv::bplist {

// A leaf decoded once, with what decoding it charged to the expansion budget: each copy is
// charged the same, as if decoded again.
struct CachedLeaf {
  std::uint64_t object;
  Value value;
  std::uint64_t weight;
};

// A key's text, with a number that is the same for equal texts in the document.
struct CachedKey {
  std::uint64_t object;
  std::string text;
  std::uint32_t text_id;
};

// Dictionaries of up to this many entries are records: they tell their keys apart by the
// texts' numbers (SeenKeys), so no key text is compared.
inline constexpr std::size_t kSmallDict = 16;

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

// One document's decoded leaves and keys, found by object number through per-thread slot
// tables; the destructor gives the tables back all zero, however decoding ended.
class ReadCache {
 public:
  explicit ReadCache(std::uint64_t object_count) {
    fit_to_document(on_path_, object_count);
    fit_to_document(leaf_slot_, object_count);
    fit_to_document(key_slot_, object_count);
  }
  ~ReadCache() {
    for (const CachedLeaf& leaf : leaves_)
      leaf_slot_[leaf.object] = 0;
    for (const auto& key : keys_)
      key_slot_[key->object] = 0;
  }
  ReadCache(const ReadCache&) = delete;
  ReadCache& operator=(const ReadCache&) = delete;

  // 1 while the container is being decoded, for the reader's cycle check.
  std::uint8_t& path_mark(std::uint64_t object) { return on_path_[object]; }

  const CachedLeaf* leaf(std::uint64_t object) const {
    const std::uint32_t slot = leaf_slot_[object];
    return slot ? &leaves_[slot - 1] : nullptr;
  }

  // Only leaves that copy without allocating are kept: a long text is usually unique, and
  // keeping it would cost a copy for nothing.
  void remember_leaf(std::uint64_t object, const Value& leaf, std::uint64_t weight) {
    if (const std::string* text = leaf.if_string(); text && text->size() > kShortText) return;
    leaves_.push_back(CachedLeaf{object, leaf, weight});
    leaf_slot_[object] = static_cast<std::uint32_t>(leaves_.size());
  }

  const CachedKey* key(std::uint64_t object) const {
    const std::uint32_t slot = key_slot_[object];
    return slot ? keys_[slot - 1].get() : nullptr;
  }

  // Equal texts get the same number even when they come from different objects.
  const CachedKey& remember_key(std::uint64_t object, std::string text) {
    CachedKey& key =
        *keys_.emplace_back(std::make_unique<CachedKey>(CachedKey{object, std::move(text), 0}));
    key.text_id =
        text_ids_.emplace(key.text, static_cast<std::uint32_t>(text_ids_.size())).first->second;
    key_slot_[object] = static_cast<std::uint32_t>(keys_.size());
    return key;
  }

 private:
  // Texts up to this length live inside a std::string, so copying one allocates nothing.
  static constexpr std::size_t kShortText = 15;
  // A table larger than this many objects is given back once a smaller document comes.
  static constexpr std::size_t kTableKept = 1u << 20;

  // Grows a per-thread table to this document's object count, and gives it back first when an
  // earlier, huge document left it large and this one is small.
  template <typename T>
  static void fit_to_document(std::vector<T>& table, std::uint64_t object_count) {
    if (table.size() > kTableKept && object_count <= kTableKept) table = {};
    if (table.size() < object_count) table.resize(object_count);
  }

  // One table per thread for each use (Tag tells them apart), reused by every document.
  template <typename Tag, typename T>
  static std::vector<T>& table_per_thread() {
    thread_local std::vector<T> table;
    return table;
  }

  struct PathTag;
  std::vector<std::uint8_t>& on_path_ = table_per_thread<PathTag, std::uint8_t>();
  // Per leaf object: its position + 1 in leaves_, 0 while not cached.
  std::vector<std::uint32_t>& leaf_slot_ = table_per_thread<CachedLeaf, std::uint32_t>();
  std::vector<CachedLeaf> leaves_;
  // Per key object: its position + 1 in keys_, 0 while not decoded yet.
  std::vector<std::uint32_t>& key_slot_ = table_per_thread<CachedKey, std::uint32_t>();
  // Each key on its own, so the keys handed out stay where they are as keys are added.
  std::vector<std::unique_ptr<CachedKey>> keys_;
  std::unordered_map<std::string_view, std::uint32_t> text_ids_;
};

// Marks a container as being decoded for as long as the mark lives, exceptions included.
class PathMark {
 public:
  explicit PathMark(std::uint8_t& mark) : mark_(mark) { mark_ = 1; }
  ~PathMark() { mark_ = 0; }
  PathMark(const PathMark&) = delete;
  PathMark& operator=(const PathMark&) = delete;

 private:
  std::uint8_t& mark_;
};

}  // namespace orv::bplist

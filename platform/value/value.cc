#include "platform/value/value.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <tuple>

namespace orv {

namespace {

const std::string& empty_string() {
  static const std::string empty;
  return empty;
}

template <typename T>
bool same_pointer_or_equal(const std::shared_ptr<const T>& a, const std::shared_ptr<const T>& b) {
  return a == b || (a && b && *a == *b);
}

std::size_t hash_key(std::string_view key) {
  return std::hash<std::string_view>{}(key);
}

// Most keys differ in length or first letter, which this settles without a call to memcmp.
bool same_key(const std::string& a, std::string_view b) {
  return a.size() == b.size() && (b.empty() || (a[0] == b[0] && a.compare(b) == 0));
}

}  // namespace

// The head of a dictionary's entry block. While the dictionary is being built only the entries
// are in use; once it moves into a Value, the dictionary itself is placed here and counted.
struct DictionaryNode {
  std::atomic<std::size_t> refs{1};
  alignas(Dictionary) unsigned char storage[sizeof(Dictionary)];

  Dictionary& dictionary() { return *std::launder(reinterpret_cast<Dictionary*>(storage)); }
  Dictionary::Entry* entries() {
    return reinterpret_cast<Dictionary::Entry*>(reinterpret_cast<unsigned char*>(this) +
                                                sizeof(DictionaryNode));
  }
  static DictionaryNode* of(Dictionary::Entry* entries) {
    return reinterpret_cast<DictionaryNode*>(reinterpret_cast<unsigned char*>(entries) -
                                             sizeof(DictionaryNode));
  }
};
static_assert(sizeof(DictionaryNode) % alignof(Dictionary::Entry) == 0);

const Dictionary* DictionaryRef::get() const {
  return node_ ? &node_->dictionary() : nullptr;
}

void DictionaryRef::retain() const {
  if (node_) node_->refs.fetch_add(1, std::memory_order_relaxed);
}

void DictionaryRef::release() {
  if (!node_ || node_->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  // The dictionary owns the block it sits in: move it out first, so the block is freed by a
  // dictionary that does not live inside it.
  Dictionary& inside = node_->dictionary();
  Dictionary owner(std::move(inside));
  inside.~Dictionary();
  node_ = nullptr;
}

const Value& null_value() {
  static const Value null;
  return null;
}

Value::Value(Array a) : v_(std::make_shared<const Array>(std::move(a))) {}
Value::Value(Dictionary d) : v_(DictionaryRef(Dictionary::into_node(std::move(d)))) {}
Value::Value(std::shared_ptr<const Array> a) {
  if (a) v_ = std::move(a);
}
Value::Value(std::shared_ptr<const Dictionary> d) {
  if (!d) return;
  if (DictionaryNode* node = d->own_node()) {
    DictionaryRef ref(node);
    node->refs.fetch_add(1, std::memory_order_relaxed);
    v_ = std::move(ref);
  } else {
    v_ = DictionaryRef(Dictionary::into_node(Dictionary(*d)));
  }
}

Value Value::unsigned_integer(std::uint64_t u) {
  return Value(Integer{static_cast<std::int64_t>(u),
                       u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())});
}

Value Value::data(Bytes bytes) {
  Value v;
  v.v_ = std::make_shared<const Bytes>(std::move(bytes));
  return v;
}

const Bytes* Value::if_data() const {
  auto* p = std::get_if<std::shared_ptr<const Bytes>>(&v_);
  return p ? p->get() : nullptr;
}

const Array* Value::if_array() const {
  auto* p = std::get_if<std::shared_ptr<const Array>>(&v_);
  return p ? p->get() : nullptr;
}

const Dictionary* Value::if_dictionary() const {
  auto* p = std::get_if<DictionaryRef>(&v_);
  return p ? p->get() : nullptr;
}

const std::string& Value::as_string() const {
  const std::string* s = if_string();
  return s ? *s : empty_string();
}

const Array& Value::as_array() const {
  static const Array empty;
  const Array* a = if_array();
  return a ? *a : empty;
}

const Dictionary& Value::as_dictionary() const {
  static const Dictionary empty;
  const Dictionary* d = if_dictionary();
  return d ? *d : empty;
}

std::shared_ptr<const Array> Value::shared_array() const {
  auto* p = std::get_if<std::shared_ptr<const Array>>(&v_);
  return p ? *p : nullptr;
}

std::shared_ptr<const Dictionary> Value::shared_dictionary() const {
  auto* p = std::get_if<DictionaryRef>(&v_);
  if (!p || !p->get()) return nullptr;
  // The pointer keeps the node alive through a reference of its own.
  return std::shared_ptr<const Dictionary>(p->get(), [ref = *p](const Dictionary*) {});
}

std::int64_t Value::read_int64() const {
  switch (kind()) {
    case Kind::Boolean:
      return *if_boolean() ? 1 : 0;
    case Kind::Integer:
      return if_integer()->bits;
    case Kind::Real: {
      double d = *if_real();
      if (std::isnan(d)) return 0;
      if (d >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
      if (d <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
      return static_cast<std::int64_t>(d);
    }
    default:
      return 0;
  }
}

std::int32_t Value::read_int32() const {
  if (const double* d = if_real()) {
    if (std::isnan(*d)) return 0;
    if (*d >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (*d <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(*d);
  }
  // Keep the low 32 bits, as a C cast of a 64-bit integer does.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(read_int64()));
}

bool Value::read_bool() const {
  switch (kind()) {
    case Kind::Boolean:
      return *if_boolean();
    case Kind::Integer:
      return if_integer()->bits != 0;
    case Kind::Real:
      return *if_real() != 0.0;
    default:
      return false;
  }
}

std::string Value::number_text() const {
  char buf[40];
  std::to_chars_result r{};
  switch (kind()) {
    case Kind::Boolean:
      return *if_boolean() ? "1" : "0";
    case Kind::Integer: {
      const Integer& i = *if_integer();
      r = i.is_unsigned ? std::to_chars(buf, buf + sizeof buf, static_cast<std::uint64_t>(i.bits))
                        : std::to_chars(buf, buf + sizeof buf, i.bits);
      break;
    }
    case Kind::Real:
      r = std::to_chars(buf, buf + sizeof buf, *if_real());
      break;
    default:
      return {};
  }
  return std::string(buf, r.ptr);
}

std::optional<std::string_view> Value::read_string() const {
  if (const std::string* s = if_string()) return std::string_view(*s);
  return std::nullopt;
}

bool Value::same_object(const Value& other) const {
  if (v_.index() != other.v_.index()) return false;
  if (auto* a = std::get_if<std::shared_ptr<const Array>>(&v_))
    return *a == std::get<std::shared_ptr<const Array>>(other.v_);
  if (auto* d = std::get_if<DictionaryRef>(&v_)) return *d == std::get<DictionaryRef>(other.v_);
  if (auto* b = std::get_if<std::shared_ptr<const Bytes>>(&v_))
    return *b == std::get<std::shared_ptr<const Bytes>>(other.v_);
  return *this == other;
}

bool operator==(const Value& a, const Value& b) {
  if (a.v_.index() != b.v_.index()) return false;
  switch (a.kind()) {
    case Kind::Null:
      return true;
    case Kind::Data:
      return same_pointer_or_equal(std::get<std::shared_ptr<const Bytes>>(a.v_),
                                   std::get<std::shared_ptr<const Bytes>>(b.v_));
    case Kind::Array:
      return same_pointer_or_equal(std::get<std::shared_ptr<const Array>>(a.v_),
                                   std::get<std::shared_ptr<const Array>>(b.v_));
    case Kind::Dictionary: {
      const DictionaryRef& da = std::get<DictionaryRef>(a.v_);
      const DictionaryRef& db = std::get<DictionaryRef>(b.v_);
      return da == db || (da.get() && db.get() && *da.get() == *db.get());
    }
    default:
      return a.v_ == b.v_;
  }
}

const Value& Value::operator[](std::string_view key) const {
  const Dictionary* d = if_dictionary();
  return d ? d->get(key) : null_value();
}

// --- Dictionary -----------------------------------------------------------------------------

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
  reserve(entries.size());
  for (const Entry& e : entries)
    set(e.first, e.second);
}

// Delegates so that a throwing entry copy still runs the destructor for the entries made so far.
Dictionary::Dictionary(const Dictionary& other) : Dictionary() {
  reserve(other.size_);
  for (; size_ < other.size_; ++size_)
    new (entries_ + size_) Entry(other.entries_[size_]);
  slots_ = other.slots_;
}

Dictionary::Dictionary(Dictionary&& other) noexcept
    : entries_(std::exchange(other.entries_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      slots_(std::move(other.slots_)) {
  other.slots_.clear();
}

Dictionary& Dictionary::operator=(const Dictionary& other) {
  if (this != &other) {
    Dictionary copy(other);
    swap(copy);
  }
  return *this;
}

Dictionary& Dictionary::operator=(Dictionary&& other) noexcept {
  if (this != &other) {
    Dictionary taken(std::move(other));
    swap(taken);
  }
  return *this;
}

Dictionary::~Dictionary() {
  destroy_entries();
}

void Dictionary::swap(Dictionary& other) noexcept {
  std::swap(entries_, other.entries_);
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
  slots_.swap(other.slots_);
}

Dictionary::Entry* Dictionary::allocate_block(std::size_t capacity) {
  if (capacity > (std::numeric_limits<std::size_t>::max() - sizeof(DictionaryNode)) / sizeof(Entry))
    throw std::bad_alloc();
  void* block = ::operator new(sizeof(DictionaryNode) + capacity * sizeof(Entry));
  return (new (block) DictionaryNode())->entries();
}

void Dictionary::free_block(Entry* entries) {
  DictionaryNode* node = DictionaryNode::of(entries);
  node->~DictionaryNode();
  ::operator delete(node);
}

void Dictionary::destroy_entries() {
  if (!entries_) return;
  for (std::size_t i = 0; i < size_; ++i)
    entries_[i].~Entry();
  free_block(entries_);
  entries_ = nullptr;
  size_ = capacity_ = 0;
}

void Dictionary::reserve(std::size_t n) {
  if (n <= capacity_) return;
  Entry* grown = allocate_block(n);
  for (std::size_t i = 0; i < size_; ++i) {
    new (grown + i) Entry(std::move(entries_[i]));
    entries_[i].~Entry();
  }
  if (entries_) free_block(entries_);
  entries_ = grown;
  capacity_ = n;
}

DictionaryNode* Dictionary::into_node(Dictionary&& d) {
  if (!d.entries_) {
    d.entries_ = allocate_block(0);
    d.capacity_ = 0;
  }
  DictionaryNode* node = DictionaryNode::of(d.entries_);
  new (node->storage) Dictionary(std::move(d));
  return node;
}

DictionaryNode* Dictionary::own_node() const {
  if (!entries_) return nullptr;
  DictionaryNode* node = DictionaryNode::of(entries_);
  return &node->dictionary() == this ? node : nullptr;
}

std::ptrdiff_t Dictionary::index_of(std::string_view key) const {
  if (slots_.empty()) {
    for (std::size_t i = 0; i < size_; ++i)
      if (same_key(entries_[i].first, key)) return static_cast<std::ptrdiff_t>(i);
    return -1;
  }
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t s = hash_key(key) & mask;; s = (s + 1) & mask) {
    std::uint32_t slot = slots_[s];
    if (slot == 0) return -1;
    if (same_key(entries_[slot - 1].first, key)) return slot - 1;
  }
}

void Dictionary::index_insert(std::uint32_t position) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t s = hash_key(entries_[position].first) & mask;
  while (slots_[s] != 0)
    s = (s + 1) & mask;
  slots_[s] = position + 1;
}

void Dictionary::rebuild_index() {
  slots_.clear();
  if (size_ < kIndexThreshold) return;
  std::size_t capacity = 32;
  while (capacity < size_ * 2)
    capacity *= 2;
  slots_.assign(capacity, 0);
  for (std::size_t i = 0; i < size_; ++i)
    index_insert(static_cast<std::uint32_t>(i));
}

const Value* Dictionary::find(std::string_view key) const {
  std::ptrdiff_t i = index_of(key);
  return i < 0 ? nullptr : &entries_[i].second;
}

const Value& Dictionary::get(std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : null_value();
}

bool Dictionary::insert_new(std::string key, Value value) {
  if (index_of(key) >= 0) return false;
  append(std::move(key), std::move(value));
  return true;
}

void Dictionary::set(std::string key, Value value) {
  std::ptrdiff_t i = index_of(key);
  if (i >= 0) {
    entries_[i].second = std::move(value);
    return;
  }
  append(std::move(key), std::move(value));
}

bool Dictionary::try_emplace(std::string_view key, Value&& value) {
  if (index_of(key) >= 0) return false;
  append(key, std::move(value));
  return true;
}

void Dictionary::insert_or_assign(std::string_view key, Value&& value) {
  std::ptrdiff_t i = index_of(key);
  if (i >= 0) {
    entries_[i].second = std::move(value);
    return;
  }
  append(key, std::move(value));
}

template <typename Key>
void Dictionary::append(Key&& key, Value&& value) {
  if (size_ == capacity_) {
    // The new entry is made before the old ones move, since the key or value may refer into them.
    const std::size_t capacity = capacity_ < 4 ? 4 : capacity_ * 2;
    Entry* grown = allocate_block(capacity);
    try {
      new (grown + size_)
          Entry(std::piecewise_construct, std::forward_as_tuple(std::forward<Key>(key)),
                std::forward_as_tuple(std::move(value)));
    } catch (...) {
      free_block(grown);
      throw;
    }
    for (std::size_t i = 0; i < size_; ++i) {
      new (grown + i) Entry(std::move(entries_[i]));
      entries_[i].~Entry();
    }
    if (entries_) free_block(entries_);
    entries_ = grown;
    capacity_ = capacity;
  } else {
    new (entries_ + size_)
        Entry(std::piecewise_construct, std::forward_as_tuple(std::forward<Key>(key)),
              std::forward_as_tuple(std::move(value)));
  }
  ++size_;
  if (slots_.empty()) {
    if (size_ >= kIndexThreshold) rebuild_index();
  } else if (size_ * 2 > slots_.size()) {
    rebuild_index();
  } else {
    index_insert(static_cast<std::uint32_t>(size_ - 1));
  }
}

bool Dictionary::remove(std::string_view key) {
  std::ptrdiff_t i = index_of(key);
  if (i < 0) return false;
  for (std::size_t j = static_cast<std::size_t>(i) + 1; j < size_; ++j)
    entries_[j - 1] = std::move(entries_[j]);
  entries_[--size_].~Entry();
  rebuild_index();
  return true;
}

bool operator==(const Dictionary& a, const Dictionary& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [key, value] : a) {
    const Value* other = b.find(key);
    if (!other || !(*other == value)) return false;
  }
  return true;
}

}  // namespace orv

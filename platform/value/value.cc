#include "platform/value/value.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
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

const Value& null_value() {
  static const Value null;
  return null;
}

Value::Value(Array a) : v_(std::make_shared<const Array>(std::move(a))) {}
Value::Value(Dictionary d) : v_(std::make_shared<const Dictionary>(std::move(d))) {}
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
  auto* p = std::get_if<std::shared_ptr<const Dictionary>>(&v_);
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
  if (auto* d = std::get_if<std::shared_ptr<const Dictionary>>(&v_))
    return *d == std::get<std::shared_ptr<const Dictionary>>(other.v_);
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
    case Kind::Dictionary:
      return same_pointer_or_equal(std::get<std::shared_ptr<const Dictionary>>(a.v_),
                                   std::get<std::shared_ptr<const Dictionary>>(b.v_));
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
  entries_.reserve(entries.size());
  for (const Entry& e : entries)
    set(e.first, e.second);
}

std::ptrdiff_t Dictionary::index_of(std::string_view key) const {
  if (slots_.empty()) {
    for (std::size_t i = 0; i < entries_.size(); ++i)
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
  if (entries_.size() < kIndexThreshold) return;
  std::size_t capacity = 32;
  while (capacity < entries_.size() * 2)
    capacity *= 2;
  slots_.assign(capacity, 0);
  for (std::size_t i = 0; i < entries_.size(); ++i)
    index_insert(static_cast<std::uint32_t>(i));
}

const Value* Dictionary::find(std::string_view key) const {
  std::ptrdiff_t i = index_of(key);
  return i < 0 ? nullptr : &entries_[static_cast<std::size_t>(i)].second;
}

const Value& Dictionary::get(std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : null_value();
}

// The entry is built in place: the key's string made once, the value moved in (or, with none
// given, starting null where it lies).
template <typename... ValueArg>
Value& Dictionary::append(std::string_view key, ValueArg&&... value) {
  entries_.emplace_back(std::piecewise_construct, std::forward_as_tuple(key),
                        std::forward_as_tuple(std::forward<ValueArg>(value)...));
  index_appended();
  return entries_.back().second;
}

void Dictionary::set(std::string_view key, Value value) {
  std::ptrdiff_t i = index_of(key);
  if (i >= 0) {
    entries_[static_cast<std::size_t>(i)].second = std::move(value);
    return;
  }
  append(key, std::move(value));
}

bool Dictionary::add(std::string_view key, Value value) {
  if (index_of(key) >= 0) return false;
  append(key, std::move(value));
  return true;
}

Value& detail::DictionaryFill::append_absent(Dictionary& dictionary, std::string_view key) {
  return dictionary.append(key);
}

void Dictionary::index_appended() {
  if (slots_.empty()) {
    if (entries_.size() >= kIndexThreshold) rebuild_index();
  } else if (entries_.size() * 2 > slots_.size()) {
    rebuild_index();
  } else {
    index_insert(static_cast<std::uint32_t>(entries_.size() - 1));
  }
}

bool Dictionary::remove(std::string_view key) {
  std::ptrdiff_t i = index_of(key);
  if (i < 0) return false;
  entries_.erase(entries_.begin() + i);
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

// The platform's object model: null, boolean, integer, real, string, data, date, array and
// dictionary. Containers are shared by reference and immutable once they are inside a Value:
// copying a Value copies a reference, so "the same dictionary" can be asked for (same_object)
// as well as deep equality (operator==). A mutable copy is an ordinary copy of the Array or
// Dictionary that a Value holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace orv {

class Value;
class Dictionary;
using Array = std::vector<Value>;
using Bytes = std::vector<std::uint8_t>;

enum class Kind : std::uint8_t {
  Null,
  Boolean,
  Integer,
  Real,
  String,
  Data,
  Date,
  Array,
  Dictionary
};

// A property-list integer: 64-bit signed, or unsigned above INT64_MAX (binary plists can carry
// those, and a round trip must keep them).
struct Integer {
  std::int64_t bits = 0;
  bool is_unsigned = false;  // true only for values above INT64_MAX
  friend bool operator==(const Integer&, const Integer&) = default;
};

// Seconds since 2001-01-01 00:00:00 UTC, the property-list epoch.
struct Date {
  // The property-list epoch in seconds since the Unix epoch.
  static constexpr double kUnixSecondsAtEpoch = 978'307'200;
  double seconds = 0;
  friend bool operator==(const Date&, const Date&) = default;
};

class Value {
 public:
  Value() = default;  // null
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int i) : v_(Integer{i, false}) {}
  Value(std::int64_t i) : v_(Integer{i, false}) {}
  Value(double d) : v_(d) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(Date d) : v_(d) {}
  Value(Integer i) : v_(i) {}
  Value(Array a);
  Value(Dictionary d);
  static Value unsigned_integer(std::uint64_t u);
  static Value data(Bytes bytes);

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool is_null() const { return kind() == Kind::Null; }
  bool is_boolean() const { return kind() == Kind::Boolean; }
  bool is_integer() const { return kind() == Kind::Integer; }
  bool is_real() const { return kind() == Kind::Real; }
  bool is_number() const { return is_boolean() || is_integer() || is_real(); }
  bool is_string() const { return kind() == Kind::String; }
  bool is_data() const { return kind() == Kind::Data; }
  bool is_date() const { return kind() == Kind::Date; }
  bool is_array() const { return kind() == Kind::Array; }
  bool is_dictionary() const { return kind() == Kind::Dictionary; }

  // Access by kind. if_* asks "is it there, and of this kind?": a null pointer when it is not.
  // as_* reads a missing or mistyped value as empty, as read_int32 and read_bool below read it
  // as 0 and false: an empty string, array or dictionary for any other kind (null included).
  const bool* if_boolean() const { return std::get_if<bool>(&v_); }
  const Integer* if_integer() const { return std::get_if<Integer>(&v_); }
  const double* if_real() const { return std::get_if<double>(&v_); }
  const std::string* if_string() const { return std::get_if<std::string>(&v_); }
  const Bytes* if_data() const;
  const Date* if_date() const { return std::get_if<Date>(&v_); }
  const Array* if_array() const;
  const Dictionary* if_dictionary() const;
  const std::string& as_string() const;
  const Array& as_array() const;
  const Dictionary& as_dictionary() const;

  // Readers with the missing-value rules: null (missing) reads as 0 / false / nothing.
  // read_int32: a boolean is 0 or 1, a real is truncated toward zero (NaN gives 0, out of range
  // saturates), a 64-bit integer keeps its low 32 bits; strings and containers read as 0.
  std::int32_t read_int32() const;
  std::int64_t read_int64() const;
  // read_bool: any non-zero number is true; everything that is not a number is false.
  bool read_bool() const;
  // The decimal text of a number ("-1" for -1, "1"/"0" for booleans, shortest round-trip text
  // for reals); empty for anything that is not a number.
  std::string number_text() const;
  // The string when the value is a string, otherwise nothing.
  std::optional<std::string_view> read_string() const;

  // Identity: the same container (or, for leaves, an equal leaf).
  bool same_object(const Value& other) const;
  friend bool operator==(const Value& a, const Value& b);

  // Dictionary shortcut: the value under key, or null when this is not a dictionary or the key
  // is missing.
  const Value& operator[](std::string_view key) const;

 private:
  using Storage =
      std::variant<std::monostate, bool, Integer, double, std::string, std::shared_ptr<const Bytes>,
                   Date, std::shared_ptr<const Array>, std::shared_ptr<const Dictionary>>;
  Storage v_;
};

namespace detail {
struct DictionaryFill;
}

// A dictionary with string keys, unique, in insertion order. Lookups are linear for small
// dictionaries and hashed once a dictionary grows past a few entries.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Value>;

  Dictionary() = default;
  Dictionary(std::initializer_list<Entry> entries);

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void reserve(std::size_t n) { entries_.reserve(n); }

  const Value* find(std::string_view key) const;
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  // The value under key, or a null value when missing.
  const Value& get(std::string_view key) const;

  // Adds the key at the end, or replaces its value in place (keeping its position).
  void set(std::string_view key, Value value);
  // Adds the key at the end; false, changing nothing, when the key is already present (for
  // readers that refuse a repeated key).
  bool add(std::string_view key, Value value);
  bool remove(std::string_view key);

  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  const Entry& entry(std::size_t i) const { return entries_[i]; }

  friend bool operator==(const Dictionary& a, const Dictionary& b);

 private:
  friend struct detail::DictionaryFill;
  static constexpr std::size_t kIndexThreshold = 12;
  std::ptrdiff_t index_of(std::string_view key) const;
  void rebuild_index();
  void index_insert(std::uint32_t position);
  // Adds an entry whose key is known to be absent (its value null when none is given), and
  // returns the value.
  template <typename... ValueArg>
  Value& append(std::string_view key, ValueArg&&... value);
  // Indexes the entry just added at the end (or builds the index once the dictionary is large).
  void index_appended();

  std::vector<Entry> entries_;
  // Open-addressing table of positions + 1 (0 = empty slot); empty while the dictionary is small.
  std::vector<std::uint32_t> slots_;
};

namespace detail {
// For a decoder that has already proved a key absent: adds the entry without looking for the
// key, and returns its null value for the decoder to fill in place, until the dictionary next
// grows. A key already present would break the uniqueness every other member relies on.
struct DictionaryFill {
  static Value& append_absent(Dictionary& dictionary, std::string_view key);
};
}  // namespace detail

// The null value, for functions that return a reference to "nothing".
const Value& null_value();

}  // namespace orv

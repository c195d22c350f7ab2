// JSON text -> Value on simdjson's DOM parser: simdjson validates the whole text (structure,
// UTF-8, escapes, surrogate pairs, depth) and we then copy its tape into Values.

#include <simdjson.h>

#include <charconv>
#include <cstdint>
#include <string>

#include "platform/json/json.h"

namespace orv {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// Copies a validated document into Values. simdjson does not count an innermost empty
// container against its depth limit, so the depth is counted here too.
class TreeBuilder {
 public:
  Result<Value> build(element root) {
    if (!root.is_array() && !root.is_object())
      return fail("the top level is neither an object nor an array");
    Value value = to_value(root, 0);
    if (too_deep_) return fail(too_deep());
    return value;
  }

  static std::string too_deep() {
    return "containers nested deeper than " + std::to_string(kMaxJsonDepth);
  }

 private:
  Value to_value(element e, std::size_t depth) {
    switch (e.type()) {
      case element_type::ARRAY:
        return array_to_value(e.get_array().value_unsafe(), depth + 1);
      case element_type::OBJECT:
        return object_to_value(e.get_object().value_unsafe(), depth + 1);
      case element_type::INT64:
        return Value(e.get_int64().value_unsafe());
      case element_type::UINT64:
        return Value::unsigned_integer(e.get_uint64().value_unsafe());
      case element_type::DOUBLE:
        return Value(e.get_double().value_unsafe());
      case element_type::STRING:
        return Value(e.get_string().value_unsafe());
      case element_type::BOOL:
        return Value(e.get_bool().value_unsafe());
      case element_type::NULL_VALUE:
        return Value();
    }
    return Value();
  }

  Value array_to_value(simdjson::dom::array in, std::size_t depth) {
    if (depth > kMaxJsonDepth) return refuse_as_too_deep();
    Array out;
    out.reserve(in.size());
    for (element child : in)
      out.push_back(to_value(child, depth));
    return Value(std::move(out));
  }

  Value object_to_value(simdjson::dom::object in, std::size_t depth) {
    if (depth > kMaxJsonDepth) return refuse_as_too_deep();
    Dictionary out;
    out.reserve(in.size());
    // A repeated key keeps its first position and takes the last value.
    for (simdjson::dom::key_value_pair field : in)
      out.set(field.key, to_value(field.value, depth));
    return Value(std::move(out));
  }

  // Nothing below a container that is too deep is read, so this happens once at most.
  Value refuse_as_too_deep() {
    too_deep_ = true;
    return Value();
  }

  bool too_deep_ = false;
};

// One parser per thread: its buffers (including the padded copy of the input that simdjson
// reads past the end of) grow to the largest document seen and are then reused.
simdjson::dom::parser* thread_parser() {
  // simdjson counts a value inside the innermost container as one level more, so its limit is
  // one above ours; the builder refuses what lies beyond ours.
  constexpr std::size_t kParserDepth = kMaxJsonDepth + 1;
  thread_local simdjson::dom::parser parser;
  // The depth limit is fixed at allocation and kept whenever the parser grows later.
  if (parser.max_depth() != kParserDepth &&
      parser.allocate(simdjson::dom::MINIMAL_DOCUMENT_CAPACITY, kParserDepth) != simdjson::SUCCESS)
    return nullptr;
  return &parser;
}

Result<Value> parse_validated(std::string_view text, simdjson::error_code& error) {
  simdjson::dom::parser* parser = thread_parser();
  if (!parser) return fail("no memory for the JSON parser");
  element root;
  error = parser->parse(text.data(), text.size(), true).get(root);
  if (error == simdjson::DEPTH_ERROR) return fail(TreeBuilder::too_deep());
  if (error == simdjson::NUMBER_ERROR)
    return fail("a malformed number, or one outside the range of a double");
  if (error != simdjson::SUCCESS) return fail(simdjson::error_message(error));
  return TreeBuilder().build(root);
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_number_char(char c) {
  return is_digit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

bool is_token_start_boundary(char c) {
  return c == '[' || c == ',' || c == ':' || c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// True for a well-formed JSON integer that fits neither int64 nor uint64.
bool is_integer_beyond_64_bits(std::string_view token) {
  std::string_view digits = token.starts_with('-') ? token.substr(1) : token;
  if (digits.empty() || digits.size() < 19 || digits[0] == '0') return false;
  for (char c : digits)
    if (!is_digit(c)) return false;
  const char* end = token.data() + token.size();
  if (token.starts_with('-')) {
    std::int64_t ignored;
    return std::from_chars(token.data(), end, ignored).ec == std::errc::result_out_of_range;
  }
  std::uint64_t ignored;
  return std::from_chars(token.data(), end, ignored).ec == std::errc::result_out_of_range;
}

// simdjson refuses integers beyond 64 bits; we read them as reals instead. Outside strings,
// every such integer gets ".0" appended, which makes it a real of the same value and leaves
// everything else (and every other error) exactly as it was. Empty when nothing changed. A
// number outside the range of a double (1e400, or an integer as large) is still refused, and
// refuses the whole document.
std::string with_big_integers_as_reals(std::string_view text) {
  std::string out;
  bool changed = false;
  bool in_string = false;
  std::size_t i = 0;
  out.reserve(text.size() + 16);
  while (i < text.size()) {
    char c = text[i];
    if (in_string) {
      out.push_back(c);
      if (c == '\\' && i + 1 < text.size()) out.push_back(text[++i]);
      if (c == '"') in_string = false;
      ++i;
      continue;
    }
    if (c == '"') in_string = true;
    bool at_boundary = i == 0 || is_token_start_boundary(text[i - 1]);
    if (at_boundary && (c == '-' || is_digit(c))) {
      std::size_t end = i;
      while (end < text.size() && is_number_char(text[end]))
        ++end;
      std::string_view token = text.substr(i, end - i);
      out.append(token);
      if (is_integer_beyond_64_bits(token)) {
        out.append(".0");
        changed = true;
      }
      i = end;
      continue;
    }
    out.push_back(c);
    ++i;
  }
  return changed ? out : std::string();
}

}  // namespace

Result<Value> parse_json(std::string_view text) {
  simdjson::error_code error = simdjson::SUCCESS;
  Result<Value> value = parse_validated(text, error);
  if (value || error != simdjson::NUMBER_ERROR) return value;
  std::string rewritten = with_big_integers_as_reals(text);
  if (rewritten.empty()) return value;
  return parse_validated(rewritten, error);
}

}  // namespace orv

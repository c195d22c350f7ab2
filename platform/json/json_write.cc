// Value -> compact JSON text. Strings are checked for valid UTF-8 and copied as they are,
// escaping only what JSON requires ('"', '\\' and control characters).
#include <simdjson.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "platform/json/json.h"

namespace orv {

namespace {

enum class ByteClass : std::uint8_t { Plain, Escape, NonAscii };

constexpr std::array<ByteClass, 256> make_byte_classes() {
  std::array<ByteClass, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    if (c < 0x20 || c == '"' || c == '\\')
      classes[c] = ByteClass::Escape;
    else if (c >= 0x80)
      classes[c] = ByteClass::NonAscii;
  }
  return classes;
}

constexpr std::array<ByteClass, 256> kByteClasses = make_byte_classes();

class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  bool write_value(const Value& value, std::size_t depth) {
    switch (value.kind()) {
      case Kind::Null:
        out_.append("null");
        return true;
      case Kind::Boolean:
        out_.append(*value.if_boolean() ? "true" : "false");
        return true;
      case Kind::Integer:
        write_integer(*value.if_integer());
        return true;
      case Kind::Real:
        return write_real(*value.if_real());
      case Kind::String:
        return write_string(*value.if_string());
      case Kind::Array:
        return write_array(*value.if_array(), depth + 1);
      case Kind::Dictionary:
        return write_dictionary(*value.if_dictionary(), depth + 1);
      case Kind::Data:
      case Kind::Date:
        return false;
    }
    return false;
  }

 private:
  bool write_array(const Array& array, std::size_t depth) {
    if (depth > kMaxJsonDepth) return false;
    out_.push_back('[');
    bool first = true;
    for (const Value& element : array) {
      if (!first) out_.push_back(',');
      first = false;
      if (!write_value(element, depth)) return false;
    }
    out_.push_back(']');
    return true;
  }

  bool write_dictionary(const Dictionary& dictionary, std::size_t depth) {
    if (depth > kMaxJsonDepth) return false;
    out_.push_back('{');
    bool first = true;
    for (const auto& [key, element] : dictionary) {
      if (!first) out_.push_back(',');
      first = false;
      if (!write_string(key)) return false;
      out_.push_back(':');
      if (!write_value(element, depth)) return false;
    }
    out_.push_back('}');
    return true;
  }

  void write_integer(const Integer& integer) {
    char buffer[24];
    std::to_chars_result r = integer.is_unsigned
                                 ? std::to_chars(buffer, buffer + sizeof buffer,
                                                 static_cast<std::uint64_t>(integer.bits))
                                 : std::to_chars(buffer, buffer + sizeof buffer, integer.bits);
    out_.append(buffer, r.ptr);
  }

  // Shortest text that reads back as the same double; a real that prints like an integer
  // gets ".0" so that it reads back as a real, not as an integer.
  bool write_real(double real) {
    if (!std::isfinite(real)) return false;
    char buffer[32];
    std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, real);
    out_.append(buffer, r.ptr);
    for (const char* p = buffer; p != r.ptr; ++p)
      if (*p == '.' || *p == 'e') return true;
    out_.append(".0");
    return true;
  }

  bool write_string(std::string_view text) {
    out_.push_back('"');
    bool has_non_ascii = false;
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      ByteClass byte_class = kByteClasses[static_cast<unsigned char>(text[i])];
      if (byte_class == ByteClass::Plain) continue;
      if (byte_class == ByteClass::NonAscii) {
        has_non_ascii = true;
        continue;
      }
      out_.append(text.data() + run_start, i - run_start);
      write_escape(static_cast<unsigned char>(text[i]));
      run_start = i + 1;
    }
    out_.append(text.data() + run_start, text.size() - run_start);
    out_.push_back('"');
    return !has_non_ascii || simdjson::validate_utf8(text.data(), text.size());
  }

  void write_escape(unsigned char c) {
    switch (c) {
      case '"':
        out_.append("\\\"");
        return;
      case '\\':
        out_.append("\\\\");
        return;
      case '\n':
        out_.append("\\n");
        return;
      case '\r':
        out_.append("\\r");
        return;
      case '\t':
        out_.append("\\t");
        return;
      case '\b':
        out_.append("\\b");
        return;
      case '\f':
        out_.append("\\f");
        return;
      default: {
        static constexpr char kHex[] = "0123456789abcdef";
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
        out_.append(escape, sizeof escape);
      }
    }
  }

  std::string& out_;
};

}  // namespace

std::optional<std::string> write_json(const Value& root) {
  if (!root.is_array() && !root.is_dictionary()) return std::nullopt;
  std::string out;
  if (!JsonWriter(out).write_value(root, 0)) return std::nullopt;
  return out;
}

}  // namespace orv

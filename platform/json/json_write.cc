// Value -> compact JSON text. Strings are checked for valid UTF-8 and copied as they are,
// escaping only what JSON requires ('"', '\\' and control characters), a block of bytes at a
// time: 16 with SSE2, otherwise (or with ORVANE_JSON_PORTABLE defined, as a test build does to
// check that branch) 8 by word arithmetic.
#include <simdjson.h>

#if defined(__SSE2__) && !defined(ORVANE_JSON_PORTABLE)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/json/json.h"

namespace orv {

namespace {

// Output text with unchecked appends after one capacity check per item.
class Output {
 public:
  char* room(std::size_t n) {
    if (length_ + n > text_.size()) text_.resize(std::max(text_.size() * 2, length_ + n + 256));
    return text_.data() + length_;
  }
  void advance(std::size_t n) { length_ += n; }
  void put(char c) {
    *room(1) = c;
    ++length_;
  }
  void put(std::string_view s) {
    std::memcpy(room(s.size()), s.data(), s.size());
    length_ += s.size();
  }
  std::string take() {
    text_.resize(length_);
    return std::move(text_);
  }

 private:
  std::string text_;
  std::size_t length_ = 0;
};

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

bool needs_escape(unsigned char c) {
  return c < 0x20 || c == '"' || c == '\\';
}

#if defined(__SSE2__) && !defined(ORVANE_JSON_PORTABLE)
constexpr std::size_t kBlock = 16;

// Copies a block of kBlock bytes to out (all of them; only the clean ones count) and returns
// how many lead the block before the first byte JSON must escape. Notes non-ASCII bytes in
// seen's high bits.
std::size_t copy_block(const char* in, char* out, std::uint64_t& seen) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
  if (_mm_movemask_epi8(bytes) != 0) seen |= kHighBits;
  const __m128i control =
      _mm_cmpeq_epi8(_mm_max_epu8(bytes, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
  const __m128i quote = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'));
  const __m128i backslash = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'));
  const int flags = _mm_movemask_epi8(_mm_or_si128(control, _mm_or_si128(quote, backslash)));
  return flags ? static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(flags))) : kBlock;
}
#else
// Without SSE2, the same eight bytes at a time.
constexpr std::size_t kBlock = 8;

constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;

// High bit set in the bytes of `word` that JSON must escape: control characters, '"', '\\'.
// The lowest flagged byte is exact, which is all the caller uses.
std::uint64_t escape_flags(std::uint64_t word) {
  std::uint64_t control = (word - kEveryByte * 0x20) & ~word;
  std::uint64_t quote = word ^ (kEveryByte * '"');
  std::uint64_t backslash = word ^ (kEveryByte * '\\');
  quote = (quote - kEveryByte) & ~quote;
  backslash = (backslash - kEveryByte) & ~backslash;
  return (control | quote | backslash) & kHighBits;
}

std::size_t copy_block(const char* in, char* out, std::uint64_t& seen) {
  std::uint64_t word;
  std::memcpy(&word, in, 8);
  std::memcpy(out, &word, 8);
  seen |= word;
  const std::uint64_t flags = escape_flags(word);
  return flags ? static_cast<std::size_t>(std::countr_zero(flags)) / 8 : 8;
}
#endif

class JsonWriter {
 public:
  bool write_value(const Value& value, std::size_t depth) {
    switch (value.kind()) {
      case Kind::Null:
        out_.put("null");
        return true;
      case Kind::Boolean:
        out_.put(*value.if_boolean() ? std::string_view("true") : std::string_view("false"));
        return true;
      case Kind::Integer:
        write_integer(*value.if_integer());
        return true;
      case Kind::Real:
        return write_real(*value.if_real());
      case Kind::String:
        write_string(*value.if_string());
        return true;
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

  // The text, when it is valid UTF-8. It is exactly when every string in it is: everything else
  // is ASCII, and each string lies between ASCII quotes, so no sequence can be completed or
  // broken across a string's edge. One check of the whole text costs less than one per string.
  std::optional<std::string> take() {
    std::string text = out_.take();
    if ((seen_ & kHighBits) != 0 && !simdjson::validate_utf8(text.data(), text.size()))
      return std::nullopt;
    return text;
  }

 private:
  bool write_array(const Array& array, std::size_t depth) {
    if (depth > kMaxJsonDepth) return false;
    out_.put('[');
    for (std::size_t i = 0; i < array.size(); ++i) {
      if (i != 0) out_.put(',');
      if (!write_value(array[i], depth)) return false;
    }
    out_.put(']');
    return true;
  }

  bool write_dictionary(const Dictionary& dictionary, std::size_t depth) {
    if (depth > kMaxJsonDepth) return false;
    out_.put('{');
    bool first = true;
    for (const auto& [key, element] : dictionary) {
      if (!first) out_.put(',');
      first = false;
      write_string(key, "\":");
      if (!write_value(element, depth)) return false;
    }
    out_.put('}');
    return true;
  }

  void write_integer(const Integer& integer) {
    char* start = out_.room(24);
    std::to_chars_result r =
        integer.is_unsigned
            ? std::to_chars(start, start + 24, static_cast<std::uint64_t>(integer.bits))
            : std::to_chars(start, start + 24, integer.bits);
    out_.advance(static_cast<std::size_t>(r.ptr - start));
  }

  // Shortest text that reads back as the same double; a real that prints like an integer
  // gets ".0" so that it reads back as a real, not as an integer.
  bool write_real(double real) {
    if (!std::isfinite(real)) return false;
    char* start = out_.room(34);
    char* end = std::to_chars(start, start + 32, real).ptr;
    if (std::find_if(start, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
      *end++ = '.';
      *end++ = '0';
    }
    out_.advance(static_cast<std::size_t>(end - start));
    return true;
  }

  // Writes text as a JSON string followed by `after` ("\"" or "\":" for keys), in one pass that
  // copies, escapes and notes whether any byte was outside ASCII.
  void write_string(std::string_view text, std::string_view after = "\"") {
    write_escaped(text, seen_);
    out_.put(after);
  }

  // Text with escapes. Clean bytes are copied a block at a time, straight into room taken for
  // the worst case (every byte a six-byte escape) once per chunk of input, so a text with an
  // escape every few words costs no call per escape.
  void write_escaped(std::string_view text, std::uint64_t& seen) {
    out_.put('"');
    std::size_t i = 0;
    while (i < text.size()) {
      const std::size_t end = std::min(text.size(), i + kEscapeChunk);
      char* const begin = out_.room(6 * (end - i) + kBlock);
      char* o = begin;
      while (i < end) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (needs_escape(c)) {
          o = put_escape(o, c);
          ++i;
        } else if (i + kBlock <= end) {
          const std::size_t clean = copy_block(text.data() + i, o, seen);
          o += clean;
          i += clean;
        } else {
          seen |= c;
          *o++ = static_cast<char>(c);
          ++i;
        }
      }
      out_.advance(static_cast<std::size_t>(o - begin));
    }
  }

  static char* put_escape(char* o, unsigned char c) {
    char short_form = 0;
    switch (c) {
      case '"':
        short_form = '"';
        break;
      case '\\':
        short_form = '\\';
        break;
      case '\n':
        short_form = 'n';
        break;
      case '\r':
        short_form = 'r';
        break;
      case '\t':
        short_form = 't';
        break;
      case '\b':
        short_form = 'b';
        break;
      case '\f':
        short_form = 'f';
        break;
      default: {
        static constexpr char kHex[] = "0123456789abcdef";
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
        std::memcpy(o, escape, sizeof escape);
        return o + sizeof escape;
      }
    }
    o[0] = '\\';
    o[1] = short_form;
    return o + 2;
  }

  static constexpr std::size_t kEscapeChunk = 4096;
  Output out_;
  std::uint64_t seen_ = 0;  // high bits: some string had a byte outside ASCII
};

}  // namespace

std::optional<std::string> write_json(const Value& root) {
  if (!root.is_array() && !root.is_dictionary()) return std::nullopt;
  JsonWriter writer;
  if (!writer.write_value(root, 0)) return std::nullopt;
  return writer.take();
}

}  // namespace orv

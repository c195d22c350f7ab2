#include "platform/plist/utf.h"

#include <cstdint>
#include <cstring>

namespace orv::plist_detail {

namespace {

void append_utf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void append_utf16be_unit(char16_t unit, std::string& out) {
  out.push_back(static_cast<char>(unit >> 8));
  out.push_back(static_cast<char>(unit & 0xFF));
}

// Decodes one UTF-8 character at text[i], advancing i; false for an invalid sequence.
bool next_code_point(std::string_view text, std::size_t& i, char32_t& c) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    c = lead;
    ++i;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (text.size() - i < length) return false;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return false;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  i += length;
  return c >= min && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

}  // namespace

bool is_ascii(std::string_view text) {
  const char* p = text.data();
  const std::size_t n = text.size();
  std::uint64_t bits = 0;
  if (n >= 8) {
    // Whole words, the last one overlapping the words before it when the size is not a
    // multiple of 8.
    std::uint64_t word;
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
      std::memcpy(&word, p + i, 8);
      bits |= word;
    }
    std::memcpy(&word, p + n - 8, 8);
    bits |= word;
  } else if (n >= 4) {
    std::uint32_t head;
    std::uint32_t tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, p + n - 4, 4);
    bits = head | tail;
  } else {
    for (std::size_t i = 0; i < n; ++i)
      bits |= static_cast<unsigned char>(p[i]);
  }
  return (bits & 0x8080808080808080ull) == 0;
}

bool utf16be_to_utf8(std::string_view utf16, std::string& out) {
  const auto unit = [&](std::size_t k) -> char16_t {
    return static_cast<char16_t>((static_cast<unsigned char>(utf16[2 * k]) << 8) |
                                 static_cast<unsigned char>(utf16[2 * k + 1]));
  };
  const std::size_t units = utf16.size() / 2;
  out.reserve(out.size() + units * 3);
  for (std::size_t k = 0; k < units; ++k) {
    const char16_t u = unit(k);
    if (u < 0xD800 || u > 0xDFFF) {
      append_utf8(u, out);
      continue;
    }
    if (u > 0xDBFF || k + 1 >= units) return false;  // trail first, or lead at the end
    const char16_t trail = unit(++k);
    if (trail < 0xDC00 || trail > 0xDFFF) return false;
    append_utf8(0x10000 + ((char32_t{u} - 0xD800) << 10) + (trail - 0xDC00), out);
  }
  return true;
}

bool utf8_to_utf16be(std::string_view utf8, std::string& out) {
  out.reserve(out.size() + utf8.size() * 2);
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = 0;
    if (!next_code_point(utf8, i, c)) return false;
    if (c < 0x10000) {
      append_utf16be_unit(static_cast<char16_t>(c), out);
    } else {
      c -= 0x10000;
      append_utf16be_unit(static_cast<char16_t>(0xD800 + (c >> 10)), out);
      append_utf16be_unit(static_cast<char16_t>(0xDC00 + (c & 0x3FF)), out);
    }
  }
  return true;
}

bool is_xml_text(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    if (!next_code_point(text, i, c)) return false;
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF)
      return false;
  }
  return true;
}

}  // namespace orv::plist_detail

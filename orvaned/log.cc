#include "orvaned/log.h"

#include <unistd.h>

#include <string>

namespace orv::service {

namespace {

bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence of two or more bytes that starts the text (no
// overlong form, no surrogate, nothing past U+10FFFF, no C1 control), or 0 when there is none.
std::size_t multibyte_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if (!is_continuation(byte(i))) return 0;
  const unsigned char second = byte(1);
  if ((lead == 0xC2 && second < 0xA0) || (lead == 0xE0 && second < 0xA0) ||
      (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second >= 0x90))
    return 0;
  return length;
}

void append_escaped_byte(std::string& out, unsigned char byte) {
  constexpr char kDigits[] = "0123456789abcdef";
  switch (byte) {
    case '\\':
      out += "\\\\";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      if (byte >= 0x20 && byte < 0x7F) {
        out += static_cast<char>(byte);
        return;
      }
      out += "\\x";
      out += kDigits[byte >> 4];
      out += kDigits[byte & 0xF];
  }
}

}  // namespace

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t sequence = multibyte_length(text);
    if (sequence > 0) {
      out.append(text.substr(0, sequence));
      text.remove_prefix(sequence);
    } else {
      append_escaped_byte(out, static_cast<unsigned char>(text.front()));
      text.remove_prefix(1);
    }
  }
  return out;
}

void log_line(std::string_view message) {
  // One write per line so lines from the main thread and the server threads never interleave.
  const std::string line = "orvaned: " + escaped(message) + "\n";
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t n = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (n <= 0) return;
    rest.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace orv::service

#include "host/text_grid.h"

#include <algorithm>

namespace orv::host {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool in(char32_t cp, char32_t lo, char32_t hi) {
  return cp >= lo && cp <= hi;
}

// Length of the UTF-8 sequence starting with `lead`, or 0 for a byte that cannot start one.
int sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

int code_point_width(char32_t cp) {
  if (cp == 0) return 0;
  if (in(cp, 0x0300, 0x036F) || in(cp, 0x200B, 0x200F) || in(cp, 0xFE00, 0xFE0F)) return 0;
  if (in(cp, 0x1100, 0x115F) || in(cp, 0x2E80, 0xA4CF) || in(cp, 0xAC00, 0xD7A3) ||
      in(cp, 0xF900, 0xFAFF) || in(cp, 0xFE30, 0xFE4F) || in(cp, 0xFF00, 0xFF60) ||
      in(cp, 0xFFE0, 0xFFE6) || in(cp, 0x1F300, 0x1F64F) || in(cp, 0x1F900, 0x1F9FF) ||
      in(cp, 0x20000, 0x3FFFD))
    return 2;
  return 1;
}

std::vector<char32_t> decode_utf8(std::string_view text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<unsigned char>(text[i]);
    int length = sequence_length(lead);
    if (length == 0 || i + static_cast<std::size_t>(length) > text.size()) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    char32_t cp = length == 1 ? lead : (lead & (0x7F >> length));
    bool valid = true;
    for (int k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (next & 0x3F);
    }
    bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
    if (!valid || overlong || cp > 0x10FFFF || in(cp, 0xD800, 0xDFFF)) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    // Control characters (C0, DEL and C1, whose CSI starts escape sequences as ESC [ does)
    // would move the terminal's cursor: show them as a replacement.
    out.push_back(cp < 0x20 || in(cp, 0x7F, 0x9F) ? kReplacement : cp);
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::string encode_utf8(char32_t cp) {
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t cp : decode_utf8(text))
    out += encode_utf8(cp);
  return out;
}

int display_width(std::string_view text) {
  int width = 0;
  for (char32_t cp : decode_utf8(text))
    width += code_point_width(cp);
  return width;
}

std::string fit_to_width(std::string_view text, int width) {
  if (display_width(text) <= width) return std::string(text);
  if (width <= 0) return {};
  std::string out;
  int used = 0;
  for (char32_t cp : decode_utf8(text)) {
    int w = code_point_width(cp);
    if (used + w > width - 1) break;
    out += encode_utf8(cp);
    used += w;
  }
  return out + "…";
}

namespace {

// Breaks one paragraph (no newlines) into lines of at most `width` columns.
void wrap_paragraph(std::string_view paragraph, int width, std::vector<std::string>& lines) {
  std::string line;
  int line_width = 0;
  auto flush = [&] {
    lines.push_back(line);
    line.clear();
    line_width = 0;
  };
  std::size_t pos = 0;
  bool any = false;
  while (pos <= paragraph.size()) {
    std::size_t space = paragraph.find(' ', pos);
    std::string_view word = paragraph.substr(
        pos, space == std::string_view::npos ? std::string_view::npos : space - pos);
    pos = space == std::string_view::npos ? paragraph.size() + 1 : space + 1;
    if (word.empty()) continue;
    any = true;
    int word_width = display_width(word);
    if (line_width > 0 && line_width + 1 + word_width > width) flush();
    if (word_width > width) {
      // A word longer than a line is broken inside rather than cut off.
      for (char32_t cp : decode_utf8(word)) {
        int w = code_point_width(cp);
        if (line_width + w > width && line_width > 0) flush();
        line += encode_utf8(cp);
        line_width += w;
      }
      continue;
    }
    if (line_width > 0) {
      line += ' ';
      ++line_width;
    }
    line += word;
    line_width += word_width;
  }
  if (line_width > 0 || !any) lines.push_back(line);
}

}  // namespace

std::vector<std::string> wrap_words(std::string_view text, int width) {
  width = std::max(width, 1);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (true) {
    std::size_t newline = text.find('\n', start);
    wrap_paragraph(text.substr(start, newline == std::string_view::npos ? std::string_view::npos
                                                                        : newline - start),
                   width, lines);
    if (newline == std::string_view::npos) break;
    start = newline + 1;
  }
  return lines;
}

TextGrid::TextGrid(int width, int height)
    : width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      cells_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)) {}

int TextGrid::put(int x, int y, std::string_view text, Attr attr) {
  if (y < 0 || y >= height_) return x;
  for (char32_t cp : decode_utf8(text)) {
    int w = code_point_width(cp);
    if (w == 0) continue;
    if (x + w > width_) break;
    if (x >= 0) {
      cells_[index(x, y)] = {encode_utf8(cp), attr};
      if (w == 2) cells_[index(x + 1, y)] = {"", attr};
    }
    x += w;
  }
  return x;
}

void TextGrid::paint(int x, int y, int length, Attr attr) {
  if (y < 0 || y >= height_) return;
  for (int i = std::max(x, 0); i < std::min(x + length, width_); ++i)
    cells_[index(i, y)].attr = attr;
}

void TextGrid::fill_row(int y, Attr attr) {
  paint(0, y, width_, attr);
}

std::string TextGrid::row_text(int y) const {
  std::string out;
  for (int x = 0; x < width_; ++x)
    out += at(x, y).glyph;
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

std::string TextGrid::text() const {
  std::string out;
  for (int y = 0; y < height_; ++y)
    out += row_text(y) + "\n";
  return out;
}

}  // namespace orv::host

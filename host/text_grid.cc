#include "host/text_grid.h"

#include <utf8proc.h>

#include <algorithm>

namespace orv::host {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Control characters (C0, DEL and C1, whose CSI starts escape sequences as ESC [ does) would
// move the terminal's cursor.
bool is_control(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

}  // namespace

// Widths come from utf8proc's tables, which follow each Unicode release.
int code_point_width(char32_t cp) {
  if (cp >= 0x20 && cp < 0x7F) return 1;
  if (cp == 0) return 0;
  return std::max(0, utf8proc_charwidth(static_cast<utf8proc_int32_t>(cp)));
}

namespace {

// Calls `use` with each code point of the text in order: the one decoding loop of the host.
template <typename Use>
void each_code_point(std::string_view text, Use&& use) {
  auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  std::size_t i = 0;
  while (i < text.size()) {
    if (bytes[i] >= 0x20 && bytes[i] < 0x7F) {  // plain ASCII needs no decoding
      use(static_cast<char32_t>(bytes[i++]));
      continue;
    }
    utf8proc_int32_t cp = -1;
    utf8proc_ssize_t length =
        utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(text.size() - i), &cp);
    if (length <= 0 || cp < 0) {
      use(kReplacement);
      ++i;
      continue;
    }
    auto point = static_cast<char32_t>(cp);
    use(is_control(point) ? kReplacement : point);
    i += static_cast<std::size_t>(length);
  }
}

bool plain_ascii(std::string_view text) {
  for (char c : text)
    if (c < 0x20 || c >= 0x7F) return false;
  return true;
}

}  // namespace

std::vector<char32_t> decode_utf8(std::string_view text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  each_code_point(text, [&](char32_t cp) { out.push_back(cp); });
  return out;
}

std::string encode_utf8(char32_t cp) {
  utf8proc_uint8_t bytes[4] = {};
  utf8proc_ssize_t length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(cp), bytes);
  if (length <= 0) return encode_utf8(kReplacement);
  return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
}

std::string printable(std::string_view text) {
  if (plain_ascii(text)) return std::string(text);
  std::string out;
  out.reserve(text.size());
  each_code_point(text, [&](char32_t cp) { out += encode_utf8(cp); });
  return out;
}

int display_width(std::string_view text) {
  if (plain_ascii(text)) return static_cast<int>(text.size());
  int width = 0;
  each_code_point(text, [&](char32_t cp) { width += code_point_width(cp); });
  return width;
}

std::string fit_to_width(std::string_view text, int width) {
  if (display_width(text) <= width) return std::string(text);
  if (width <= 0) return {};
  if (plain_ascii(text))
    return std::string(text.substr(0, static_cast<std::size_t>(width - 1))) + "…";
  std::string out;
  int used = 0;
  bool full = false;
  each_code_point(text, [&](char32_t cp) {
    int w = code_point_width(cp);
    if (full || used + w > width - 1) {
      full = true;
      return;
    }
    out += encode_utf8(cp);
    used += w;
  });
  return out + "…";
}

namespace {

// Punctuation that closes a phrase and so never starts a line of Chinese or Japanese text.
bool closes(char32_t cp) {
  static constexpr std::u32string_view kClosing =
      U"。，、．：；？！）」』】〉》〕｝〗〙〛”’…ー々〃・％";
  return kClosing.find(cp) != std::u32string_view::npos;
}

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
      // A word longer than a line (as Chinese text is) is broken inside rather than cut off,
      // never before closing punctuation: the character before it moves down along with it.
      std::vector<char32_t> points;
      for (char32_t cp : decode_utf8(word)) {
        int w = code_point_width(cp);
        if (line_width + w > width && line_width > 0) {
          char32_t carried = 0;
          if (closes(cp) && points.size() > 1 && !closes(points.back())) {
            carried = points.back();
            points.pop_back();
            line.clear();
            for (char32_t kept : points)
              line += encode_utf8(kept);
          }
          flush();
          points.clear();
          if (carried) {
            points.push_back(carried);
            line += encode_utf8(carried);
            line_width += code_point_width(carried);
          }
        }
        points.push_back(cp);
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
  bool full = false;
  each_code_point(text, [&](char32_t cp) {
    int w = code_point_width(cp);
    if (full || w == 0) return;
    if (x + w > width_) {
      full = true;
      return;
    }
    if (x >= 0) {
      GridCell& cell = cells_[index(x, y)];
      cell.glyph = encode_utf8(cp);
      cell.attr = attr;
      if (w == 2) cells_[index(x + 1, y)] = {"", attr};
    }
    x += w;
  });
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

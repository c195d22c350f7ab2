// A screen as text: rows of cells, each holding one glyph (a UTF-8 code point) and its look.
// The terminal UI draws into a grid and ncurses only copies it out, so every screen can be
// checked as plain text without a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv::host {

enum class Color : std::uint8_t { Default, Green, Red, Cyan, Yellow, Blue };

struct Attr {
  bool bold = false;
  bool dim = false;
  bool reverse = false;
  bool underline = false;
  Color color = Color::Default;
  friend bool operator==(const Attr&, const Attr&) = default;
};

struct GridCell {
  std::string glyph = " ";  // empty: the right half of a wide glyph on its left
  Attr attr;
};

// Display width of one code point, from the Unicode tables: 0 for combining marks, 2 for wide
// East Asian glyphs and emoji, 1 otherwise.
int code_point_width(char32_t cp);
// The host's one UTF-8 decoder. Splits UTF-8 text into code points; an invalid byte and a control
// character become U+FFFD, so bad input still shows and nothing reaches the terminal as a command.
std::vector<char32_t> decode_utf8(std::string_view text);
std::string encode_utf8(char32_t cp);
// The text with invalid bytes and control characters replaced by U+FFFD, so text from files
// and the service cannot move a terminal's cursor or change its state when printed.
std::string printable(std::string_view text);
// Columns the text takes on screen.
int display_width(std::string_view text);
// The longest prefix of text that fits in `width` columns, with "…" when it had to be cut.
std::string fit_to_width(std::string_view text, int width);
// Word wrap: lines of at most `width` columns, broken at spaces; a word longer than a line is
// broken inside. Explicit newlines start new lines. Never returns an empty vector.
std::vector<std::string> wrap_words(std::string_view text, int width);

class TextGrid {
 public:
  TextGrid(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }

  // Writes text from (x, y), clipped at the right edge; returns the column after the text.
  int put(int x, int y, std::string_view text, Attr attr = {});
  // Sets the look of a span of cells without changing their glyphs.
  void paint(int x, int y, int length, Attr attr);
  void fill_row(int y, Attr attr);
  const GridCell& at(int x, int y) const { return cells_[index(x, y)]; }

  // One row as text, trailing spaces removed.
  std::string row_text(int y) const;
  // The whole grid as text, one line per row.
  std::string text() const;

 private:
  std::size_t index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
           static_cast<std::size_t>(x);
  }
  int width_;
  int height_;
  std::vector<GridCell> cells_;
};

}  // namespace orv::host

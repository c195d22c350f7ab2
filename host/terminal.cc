#include "host/terminal.h"

#include <curses.h>

#include "host/terminal_locale.h"

namespace orv::host {

namespace {

// Colour pairs, one per Color after Default.
short pair_of(Color color) {
  return static_cast<short>(color);
}

attr_t curses_attrs(const Attr& attr) {
  attr_t out = A_NORMAL;
  if (attr.bold) out |= A_BOLD;
  if (attr.dim) out |= A_DIM;
  if (attr.reverse) out |= A_REVERSE;
  if (attr.underline) out |= A_UNDERLINE;
  return out;
}

std::optional<Key> mouse_key() {
  MEVENT event{};
  if (getmouse(&event) != OK) return std::nullopt;
  if (event.bstate & BUTTON4_PRESSED) return Key::special(KeyCode::WheelUp);
#ifdef BUTTON5_PRESSED
  if (event.bstate & BUTTON5_PRESSED) return Key::special(KeyCode::WheelDown);
#endif
  if (event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)) return Key::click(event.x, event.y);
  return std::nullopt;
}

std::optional<Key> function_key(wint_t code) {
  switch (code) {
    case KEY_UP:
      return Key::special(KeyCode::Up);
    case KEY_DOWN:
      return Key::special(KeyCode::Down);
    case KEY_LEFT:
      return Key::special(KeyCode::Left);
    case KEY_RIGHT:
      return Key::special(KeyCode::Right);
    case KEY_PPAGE:
      return Key::special(KeyCode::PageUp);
    case KEY_NPAGE:
      return Key::special(KeyCode::PageDown);
    case KEY_HOME:
      return Key::special(KeyCode::Home);
    case KEY_END:
      return Key::special(KeyCode::End);
    case KEY_ENTER:
      return Key::special(KeyCode::Enter);
    case KEY_BACKSPACE:
      return Key::special(KeyCode::Backspace);
    case KEY_BTAB:
      return Key::special(KeyCode::BackTab);
    case KEY_RESIZE:
      return Key::special(KeyCode::Resize);
    case KEY_MOUSE:
      return mouse_key();
    default:
      return std::nullopt;
  }
}

Key character_key(wint_t ch) {
  switch (ch) {
    case '\n':
    case '\r':
      return Key::special(KeyCode::Enter);
    case 27:
      return Key::special(KeyCode::Escape);
    case 127:
    case 8:
      return Key::special(KeyCode::Backspace);
    case '\t':
      return Key::special(KeyCode::Tab);
    default:
      return Key::character(static_cast<char32_t>(ch));
  }
}

}  // namespace

Terminal::Terminal(bool utf8) : utf8_(utf8) {
  initscr();
  raw();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  curs_set(0);
  set_escdelay(25);
  // Presses only: with no click interval a press is the click, and releases are not reported.
  mousemask(BUTTON1_PRESSED | BUTTON4_PRESSED
#ifdef BUTTON5_PRESSED
                | BUTTON5_PRESSED
#endif
            ,
            nullptr);
  mouseinterval(0);
  if (has_colors()) {
    start_color();
    use_default_colors();
    init_pair(pair_of(Color::Green), COLOR_GREEN, -1);
    init_pair(pair_of(Color::Red), COLOR_RED, -1);
    init_pair(pair_of(Color::Cyan), COLOR_CYAN, -1);
    init_pair(pair_of(Color::Yellow), COLOR_YELLOW, -1);
    init_pair(pair_of(Color::Blue), COLOR_BLUE, -1);
    colors_ = true;
  }
}

Terminal::~Terminal() {
  endwin();
}

int Terminal::width() const {
  return COLS;
}
int Terminal::height() const {
  return LINES;
}

void Terminal::paint(const TextGrid& grid) {
  erase();
  for (int y = 0; y < grid.height() && y < LINES; ++y) {
    for (int x = 0; x < grid.width() && x < COLS; ++x) {
      const GridCell& cell = grid.at(x, y);
      if (cell.glyph.empty()) continue;  // right half of a wide glyph
      short pair = colors_ && cell.attr.color != Color::Default ? pair_of(cell.attr.color) : 0;
      attr_set(curses_attrs(cell.attr), pair, nullptr);
      std::string_view glyph = utf8_ ? std::string_view(cell.glyph) : ascii_glyph(cell.glyph);
      mvaddnstr(y, x, glyph.data(), static_cast<int>(glyph.size()));
    }
  }
  attr_set(A_NORMAL, 0, nullptr);
  refresh();
}

std::optional<Key> Terminal::read_key(int timeout_ms) {
  timeout(timeout_ms);
  wint_t ch = 0;
  int kind = get_wch(&ch);
  if (kind == ERR) return std::nullopt;
  if (kind == KEY_CODE_YES) return function_key(ch);
  return character_key(ch);
}

void Terminal::discard_typeahead() {
  flushinp();
}

}  // namespace orv::host

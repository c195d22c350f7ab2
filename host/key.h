// A key press or mouse event as the terminal UI sees it, independent of ncurses, so the UI's
// reactions can be driven by plain values in tests.
#pragma once

namespace orv::host {

// Ctrl-C: the terminal is in raw mode, so it arrives as a key.
inline constexpr char32_t kCtrlC = 0x03;

enum class KeyCode {
  Char,
  Up,
  Down,
  Left,
  Right,
  PageUp,
  PageDown,
  Home,
  End,
  Enter,
  Escape,
  Backspace,
  Tab,
  BackTab,
  Resize,
  Click,
  WheelUp,
  WheelDown,
};

struct Key {
  KeyCode code = KeyCode::Char;
  char32_t ch = 0;  // KeyCode::Char
  int x = 0;        // mouse events: the cell
  int y = 0;

  static Key character(char32_t c) { return {KeyCode::Char, c}; }
  static Key special(KeyCode code) { return {code, 0}; }
  static Key click(int x, int y) { return {KeyCode::Click, 0, x, y}; }
  bool is_char(char32_t c) const { return code == KeyCode::Char && ch == c; }
};

}  // namespace orv::host

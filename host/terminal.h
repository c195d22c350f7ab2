// The ncurses side of the terminal UI: copies a text grid to the screen and reads keys. It
// knows nothing of pages.
#pragma once

#include <optional>

#include "host/key.h"
#include "host/text_grid.h"

namespace orv::host {

class Terminal {
 public:
  // Takes over the terminal (initscr); without `utf8`, every glyph is drawn as its ASCII
  // stand-in.
  explicit Terminal(bool utf8);
  ~Terminal();  // gives it back (endwin)
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  int width() const;
  int height() const;
  void paint(const TextGrid& grid);
  // Waits up to timeout_ms (0: not at all, -1: for ever) for a key; nullopt when none came.
  std::optional<Key> read_key(int timeout_ms);
  // Drops every key typed but not read yet.
  void discard_typeahead();

 private:
  bool utf8_;
  bool colors_ = false;
};

}  // namespace orv::host

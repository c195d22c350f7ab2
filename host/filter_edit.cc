#include "host/filter_edit.h"

#include "host/text_grid.h"

namespace orv::host {

FilterEdit edit_filter(std::string& filter, const Key& key) {
  switch (key.code) {
    case KeyCode::Escape:
      filter.clear();
      return FilterEdit::Ended;
    case KeyCode::Enter:
      return FilterEdit::Ended;
    case KeyCode::Backspace:
      if (!filter.empty()) {
        auto points = decode_utf8(filter);
        points.pop_back();
        filter.clear();
        for (char32_t cp : points)
          filter += encode_utf8(cp);
      }
      return FilterEdit::Changed;
    case KeyCode::Char:
      if (key.ch < 0x20) return FilterEdit::NotAnEdit;
      filter += encode_utf8(key.ch);
      return FilterEdit::Changed;
    default:
      return FilterEdit::NotAnEdit;
  }
}

}  // namespace orv::host

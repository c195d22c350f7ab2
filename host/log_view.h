// The terminal UI's view of a job's log: the last lines, following new ones as they come while
// it shows the end, scrollable, with the same filter key as the pages ("/": typed text keeps
// only the lines that hold it; Enter keeps the filter, Esc clears it). No terminal here: keys
// in, a grid out; the lines come from a fetch function, so a test can feed them.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/job_log.h"
#include "host/key.h"
#include "host/text_grid.h"

namespace orv::host {

class LogView {
 public:
  // The lines after the cursor (all of the last ones for an empty cursor).
  using Fetch = std::function<tl::expected<LogPage, LogFailure>(const std::string& after)>;

  LogView(std::string label, Fetch fetch);

  // Asks for new lines; true when the view changed.
  bool poll();
  // False when the key closes the view (Esc with no filter, Left, h, Backspace).
  bool handle_key(const Key& key);
  TextGrid draw(int width, int height);
  bool editing_filter() const { return editing_filter_; }

 private:
  std::vector<std::size_t> shown() const;  // indexes of the lines the filter keeps
  void scroll(int steps);
  bool handle_filter_key(const Key& key);

  std::string label_;
  Fetch fetch_;
  std::deque<LogLine> lines_;
  std::string cursor_;
  std::optional<std::string> trouble_;  // why the latest fetch failed
  std::string filter_;
  bool editing_filter_ = false;
  bool following_ = true;  // showing the end, and staying there as lines come
  int top_ = 0;            // first shown line on screen, while not following
  int body_height_ = 20;
};

}  // namespace orv::host

#include "host/log_view.h"

#include <algorithm>
#include <cctype>

#include "host/command_line.h"
#include "host/filter_edit.h"
#include "host/host_texts.h"
#include "host/page_renderer.h"
#include "platform/ipc/messaging_center.h"

namespace orv::host {

namespace {

constexpr Attr kErrAttr{.color = Color::Red};
constexpr Attr kServiceAttr{.color = Color::Cyan};

bool holds(const LogLine& line, const std::string& filter) {
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  };
  return std::search(line.text.begin(), line.text.end(), filter.begin(), filter.end(), same) !=
         line.text.end();
}

std::string failure_words(const LogFailure& failure) {
  switch (failure.trouble) {
    case LogTrouble::NoAnswer:
      return failure.words;
    case LogTrouble::UnknownLabel:
      return std::string(tr("no such job"));
    case LogTrouble::NoLog:
      break;
  }
  return std::string(tr("no log is kept for this job"));
}

}  // namespace

LogView::LogView(std::string label, Fetch fetch)
    : label_(std::move(label)), fetch_(std::move(fetch)) {
  poll();
}

bool LogView::poll() {
  auto page = fetch_(cursor_);
  if (!page) {
    std::string words = failure_words(page.error());
    bool changed = trouble_ != words;
    trouble_ = std::move(words);
    return changed;
  }
  bool changed = trouble_.has_value() || !page->lines.empty();
  trouble_.reset();
  cursor_ = page->cursor;
  for (LogLine& line : page->lines)
    lines_.push_back(std::move(line));
  // Lines dropped at the top leave the lines on screen where they were.
  const std::size_t excess = lines_.size() > kMaxLogLines ? lines_.size() - kMaxLogLines : 0;
  lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(excess));
  if (!following_) top_ = std::max(0, top_ - static_cast<int>(excess));
  return changed;
}

std::vector<std::size_t> LogView::shown() const {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < lines_.size(); ++i)
    if (filter_.empty() || holds(lines_[i], filter_)) out.push_back(i);
  return out;
}

void LogView::scroll(int steps) {
  const int count = static_cast<int>(shown().size());
  const int last_top = std::max(0, count - body_height_);
  if (following_) top_ = last_top;
  top_ = std::clamp(top_ + steps, 0, last_top);
  following_ = top_ == last_top;
}

bool LogView::handle_filter_key(const Key& key) {
  const FilterEdit edit = edit_filter(filter_, key);
  if (edit == FilterEdit::Ended) editing_filter_ = false;
  return edit != FilterEdit::NotAnEdit;
}

bool LogView::handle_key(const Key& key) {
  if (editing_filter_ && handle_filter_key(key)) {
    following_ = true;
    return true;
  }
  const int page = std::max(1, body_height_ / 2);
  switch (key.code) {
    case KeyCode::Up:
    case KeyCode::WheelUp:
      scroll(key.code == KeyCode::Up ? -1 : -3);
      return true;
    case KeyCode::Down:
    case KeyCode::WheelDown:
      scroll(key.code == KeyCode::Down ? 1 : 3);
      return true;
    case KeyCode::PageUp:
      scroll(-page);
      return true;
    case KeyCode::PageDown:
      scroll(page);
      return true;
    case KeyCode::Home:
      following_ = false;
      top_ = 0;
      return true;
    case KeyCode::End:
      following_ = true;
      return true;
    case KeyCode::Escape:
      if (filter_.empty()) return false;
      filter_.clear();
      return true;
    case KeyCode::Left:
    case KeyCode::Backspace:
      return false;
    case KeyCode::Char:
      break;
    default:
      return true;
  }
  switch (key.ch) {
    case 'k':
      scroll(-1);
      break;
    case 'j':
      scroll(1);
      break;
    case 'g':
      following_ = false;
      top_ = 0;
      break;
    case 'G':
      following_ = true;
      break;
    case '/':
      editing_filter_ = true;
      break;
    case 'h':
      return false;
    default:
      break;
  }
  return true;
}

TextGrid LogView::draw(int width, int height) {
  TextGrid grid(width, height);
  body_height_ = std::max(1, height - 2);
  const std::vector<std::size_t> lines = shown();
  const int count = static_cast<int>(lines.size());
  const int last_top = std::max(0, count - body_height_);
  top_ = following_ ? last_top : std::clamp(top_, 0, last_top);
  std::string right = following_ ? std::string(tr("following")) : std::string(tr("paused"));
  if (!filter_.empty() || editing_filter_)
    right = tr_format(editing_filter_ ? "/{}_   Enter keeps it, Esc clears" : "filter: {}",
                      {printable(filter_)}) +
            "  " + right;
  draw_bar(grid, 0, tr_format("Log of {}", {printable(label_)}), right);
  for (int y = 0; y < body_height_ && top_ + y < count; ++y) {
    const LogLine& line = lines_[lines[static_cast<std::size_t>(top_ + y)]];
    const Attr attr = line.stream == "err"       ? kErrAttr
                      : line.stream == "service" ? kServiceAttr
                                                 : Attr{};
    grid.put(0, 1 + y, fit_to_width(format_log_line(line), width), attr);
  }
  if (count == 0)
    grid.put(2, 1, tr(lines_.empty() ? "(no log lines yet)" : "No lines match the filter."));
  if (height > 1) {
    const std::string status =
        trouble_ ? tr_format("STALE: {}", {*trouble_})
                 : std::string(tr("Up/Down scroll  G follow  / filter  Esc back  q quit"));
    draw_bar(grid, height - 1, status, tr_format("{} lines", {std::to_string(count)}));
  }
  return grid;
}

}  // namespace orv::host

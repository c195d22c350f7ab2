#include "host/browser.h"

#include <algorithm>

#include "platform/ui/class_registry.h"

namespace orv::host {

namespace {

constexpr const char* kKeyHints = "↑↓ move  ⏎ open/flip  / filter  ? help  q quit";
constexpr const char* kWaitingForService = "Waiting for the control service…  q quits";
constexpr char32_t kCtrlC = 0x03;  // the terminal is in raw mode, so it arrives as a key

// The new position of a row after a rebuild: the row with the same identity, else the row
// now at the same place.
int matching_row(const std::vector<RowView>& rows, const RowView* previous, int previous_index) {
  if (rows.empty()) return -1;
  if (previous) {
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
      const RowView& row = rows[static_cast<std::size_t>(i)];
      if (row.kind == previous->kind && row.identity == previous->identity) return i;
    }
  }
  int index = std::clamp(previous_index, 0, static_cast<int>(rows.size()) - 1);
  for (int i = index; i < static_cast<int>(rows.size()); ++i)
    if (rows[static_cast<std::size_t>(i)].selectable()) return i;
  for (int i = index; i >= 0; --i)
    if (rows[static_cast<std::size_t>(i)].selectable()) return i;
  return -1;
}

}  // namespace

Browser::Browser(ListControllerPtr root, std::string title, std::function<std::string()> now_text,
                 std::function<void()> changed)
    : now_text_(std::move(now_text)), changed_(std::move(changed)) {
  push(std::move(root), std::move(title));
}

Browser::~Browser() {
  for (auto& open : stack_)
    open.page->setReloadObserver({});
}

void Browser::push(ListControllerPtr page, std::string title) {
  page->setReloadObserver([this](ListController& rebuilt) { page_rebuilt(rebuilt); });
  page->specifiers();  // first display
  last_rebuild_ = now_text_();
  stack_.push_back({std::move(page), std::move(title), {}, -1, 0});
  refresh_rows(stack_.back());
  filter_.clear();
  editing_filter_ = false;
  page_unseen_ = true;
}

void Browser::pop() {
  if (stack_.size() <= 1) return;
  stack_.back().page->setReloadObserver({});
  stack_.pop_back();
  filter_.clear();
  editing_filter_ = false;
  page_unseen_ = true;
}

void Browser::refresh_rows(OpenPage& open) {
  const RowView* previous = open.selected >= 0 && open.selected < static_cast<int>(open.rows.size())
                                ? &open.rows[static_cast<std::size_t>(open.selected)]
                                : nullptr;
  RowView kept = previous ? *previous : RowView{};
  auto rows = describe_rows(*current_specifiers(*open.page));
  open.selected = matching_row(rows, previous ? &kept : nullptr, open.selected);
  open.rows = std::move(rows);
}

void Browser::page_rebuilt(ListController& page) {
  for (auto& open : stack_)
    if (open.page.get() == &page) refresh_rows(open);
  last_rebuild_ = now_text_();
  if (changed_) changed_();
}

std::vector<int> Browser::selectable_visible() const {
  std::vector<int> out;
  const auto& rows = stack_.back().rows;
  for (int index : visible_rows(rows, filter_))
    if (rows[static_cast<std::size_t>(index)].selectable()) out.push_back(index);
  return out;
}

void Browser::move_selection(int steps) {
  auto candidates = selectable_visible();
  if (candidates.empty()) return;
  auto& open = stack_.back();
  auto here = std::find(candidates.begin(), candidates.end(), open.selected);
  int position = here == candidates.end() ? (steps > 0 ? -1 : static_cast<int>(candidates.size()))
                                          : static_cast<int>(here - candidates.begin());
  position = std::clamp(position + steps, 0, static_cast<int>(candidates.size()) - 1);
  open.selected = candidates[static_cast<std::size_t>(position)];
}

void Browser::select_edge(bool last) {
  auto candidates = selectable_visible();
  if (!candidates.empty()) stack_.back().selected = last ? candidates.back() : candidates.front();
}

void Browser::activate(bool flip_only) {
  auto& open = stack_.back();
  if (open.selected < 0 || open.selected >= static_cast<int>(open.rows.size())) return;
  RowView row = open.rows[static_cast<std::size_t>(open.selected)];
  if (flip_only && row.kind != RowKind::Switch) return;
  if (!row.operable()) {
    if (row.kind == RowKind::Switch || !row.enabled)
      message_ = "\"" + row.title + "\" cannot be changed here";
    return;
  }
  ListControllerPtr page = open.page;  // kept alive while its row acts
  switch (row.kind) {
    case RowKind::Switch:
      row.specifier->performSetter(Value(!row.switch_on.value_or(false)));
      break;
    case RowKind::Button:
      row.specifier->performAction();
      break;
    case RowKind::Link: {
      auto detail = ClassRegistry::shared().createPage(row.specifier->detailControllerClass());
      if (!detail) {
        message_ = "no page class " + row.specifier->detailControllerClass();
        return;
      }
      detail->setSpecifier(row.specifier);
      push(std::move(detail), row.specifier->name().value_or(row.title));
      return;
    }
    default:
      return;
  }
  // A setter or action that did not rebuild the page may still have changed what its
  // getters say; the page that acted may have been closed meanwhile.
  for (auto& entry : stack_)
    if (entry.page == page) refresh_rows(entry);
}

bool Browser::handle_filter_key(const Key& key) {
  switch (key.code) {
    case KeyCode::Escape:
      filter_.clear();
      editing_filter_ = false;
      return true;
    case KeyCode::Enter:
      editing_filter_ = false;
      return true;
    case KeyCode::Backspace:
      if (!filter_.empty()) {
        auto points = decode_utf8(filter_);
        points.pop_back();
        filter_.clear();
        for (char32_t cp : points)
          filter_ += encode_utf8(cp);
      }
      break;
    case KeyCode::Char:
      filter_ += encode_utf8(key.ch);
      break;
    default:
      return false;  // movement keys still move while the filter is typed
  }
  // Keep the selection on a row that the filter shows.
  auto candidates = selectable_visible();
  if (!candidates.empty() &&
      std::find(candidates.begin(), candidates.end(), stack_.back().selected) == candidates.end())
    stack_.back().selected = candidates.front();
  return true;
}

// A click selects; a click on the row already selected (the second of a double click, too)
// acts on it.
void Browser::click(int y) {
  if (y < 0 || y >= static_cast<int>(row_at_line_.size())) return;
  int index = row_at_line_[static_cast<std::size_t>(y)];
  auto& open = stack_.back();
  if (index < 0 || !open.rows[static_cast<std::size_t>(index)].selectable()) return;
  if (open.selected == index) return activate(false);
  open.selected = index;
}

void Browser::handle_key(const Key& key) {
  if (key.is_char(kCtrlC)) {
    quit_ = true;
    return;
  }
  if (page_unseen_) return;
  message_.clear();
  if (help_) {
    help_ = false;
    return;
  }
  if (editing_filter_ && handle_filter_key(key)) return;
  int page_step = std::max(1, body_height_ / 2);
  switch (key.code) {
    case KeyCode::Up:
      return move_selection(-1);
    case KeyCode::Down:
      return move_selection(1);
    case KeyCode::PageUp:
      return move_selection(-page_step);
    case KeyCode::PageDown:
      return move_selection(page_step);
    case KeyCode::Home:
      return select_edge(false);
    case KeyCode::End:
      return select_edge(true);
    case KeyCode::WheelUp:
      return move_selection(-3);
    case KeyCode::WheelDown:
      return move_selection(3);
    case KeyCode::Enter:
    case KeyCode::Right:
      return activate(false);
    case KeyCode::Click:
      return click(key.y);
    case KeyCode::Escape:
      if (!filter_.empty()) {
        filter_.clear();
        return;
      }
      return pop();
    case KeyCode::Backspace:
    case KeyCode::Left:
      return pop();
    case KeyCode::Char:
      break;
    default:
      return;
  }
  switch (key.ch) {
    case 'k':
      return move_selection(-1);
    case 'j':
      return move_selection(1);
    case 'g':
      return select_edge(false);
    case 'G':
      return select_edge(true);
    case 'l':
      return activate(false);
    case ' ':
      return activate(true);
    case 'h':
      return pop();
    case '/':
      editing_filter_ = true;
      return;
    case '?':
      help_ = true;
      return;
    case 'q':
      quit_ = true;
      return;
    default:
      return;
  }
}

std::string Browser::breadcrumb() const {
  std::string out;
  for (const auto& open : stack_)
    out += (out.empty() ? "" : " › ") + open.title;
  return out;
}

TextGrid Browser::draw(int width, int height) {
  std::string status = kKeyHints;
  if (editing_filter_)
    status = "/" + filter_ + "_   Enter keeps it, Esc clears";
  else if (!message_.empty())
    status = message_;
  TextGrid grid = render(width, height, std::move(status));
  page_unseen_ = false;
  return grid;
}

TextGrid Browser::draw_waiting_for_service(int width, int height) {
  return render(width, height, kWaitingForService);
}

TextGrid Browser::render(int width, int height, std::string status) {
  auto& open = stack_.back();
  PageFrame frame;
  frame.title = breadcrumb();
  frame.rows = &open.rows;
  frame.filter = filter_;
  frame.selected = open.selected;
  frame.scroll_top = open.scroll_top;
  frame.status_left = std::move(status);
  frame.status_right = "updated " + last_rebuild_;
  auto rendered = render_page(frame, width, height);
  open.scroll_top = rendered.scroll_top;
  row_at_line_ = std::move(rendered.row_at_line);
  body_height_ = std::max(1, height - 2);
  if (help_) draw_help(rendered.grid);
  return std::move(rendered.grid);
}

}  // namespace orv::host

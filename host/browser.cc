#include "host/browser.h"

#include <algorithm>
#include <ctime>

#include "host/filter_edit.h"
#include "host/host_texts.h"
#include "host/page_selectors.h"
#include "platform/prefs/user_defaults.h"
#include "platform/ui/class_registry.h"

namespace orv::host {

namespace {

constexpr const char* kWaitingForService = "Waiting for the control service…  q quits";

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

Browser::Browser(ListControllerPtr root, std::string title, BrowserContext context)
    : context_(std::move(context)) {
  push(std::move(root), std::move(title));
}

Browser::~Browser() {
  for (auto& open : stack_)
    open.page->setReloadObserver({});
}

void Browser::push(ListControllerPtr page, std::string title) {
  page->setReloadObserver([this](ListController& rebuilt) { page_rebuilt(rebuilt); });
  page->specifiers();  // first display
  stack_.push_back({std::move(page), std::move(title)});
  take_rows(stack_.back());
  editing_filter_ = false;
  page_unseen_ = true;
}

// The page returned to is built again when something was done on the page above (a job
// started or stopped), so that it shows at once, not at the next timed rebuild.
void Browser::pop() {
  if (stack_.size() <= 1) return;
  stack_.back().page->setReloadObserver({});
  bool acted = stack_.back().acted;
  stack_.pop_back();
  editing_filter_ = false;
  page_unseen_ = true;
  if (!acted) return;
  ListControllerPtr page = stack_.back().page;
  rebuild_if_open(page);
}

// Rows from an answered build replace the shown ones; after a build the service did not
// answer, the rows shown before stay, marked as stale, so a dead service never looks like an
// empty machine.
void Browser::take_rows(OpenPage& open) {
  std::string now = context_.now_text();
  trouble_ = context_.service_trouble ? context_.service_trouble() : std::nullopt;
  if (!trouble_)
    trouble_since_.clear();
  else if (trouble_since_.empty())
    trouble_since_ = now;
  if (trouble_ && open.has_rows) return;
  refresh_rows(open);
  open.has_rows = true;
  if (trouble_) return;
  open.read_at = now;
  if (&open == &stack_.front()) last_rebuild_ = now;
}

void Browser::refresh_rows(OpenPage& open) {
  const RowView* previous = open.selected >= 0 && open.selected < static_cast<int>(open.rows.size())
                                ? &open.rows[static_cast<std::size_t>(open.selected)]
                                : nullptr;
  RowView kept = previous ? *previous : RowView{};
  auto rows = describe_rows(*current_specifiers(*open.page));
  open.selected = matching_row(rows, previous ? &kept : nullptr, open.selected);
  open.rows = std::move(rows);
  open.generation = ++generations_;
}

void Browser::page_rebuilt(ListController& page) {
  rebuilt_ = true;
  for (auto& open : stack_)
    if (open.page.get() == &page) take_rows(open);
  if (context_.changed) context_.changed();
}

std::vector<int> Browser::selectable_visible() const {
  std::vector<int> out;
  const auto& rows = stack_.back().rows;
  for (int index : visible_rows(rows, stack_.back().filter))
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
      message_ = tr_format("\"{}\" cannot be changed here", {row.title});
    return;
  }
  ListControllerPtr page = open.page;  // kept alive while its row acts
  switch (row.kind) {
    case RowKind::Switch:
      return flip(row.specifier, page, !row.switch_on.value_or(false),
                  row.specifier->setter() == kAliveSetter ? open.title : row.title);
    case RowKind::Button:
      return press(row.specifier, page);
    case RowKind::Link:
      return open_link(row);
    default:
      return;
  }
}

void Browser::open_link(const RowView& row) {
  auto detail = ClassRegistry::shared().createPage(row.specifier->detailControllerClass());
  if (!detail) {
    message_ = "no page class " + row.specifier->detailControllerClass();
    return;
  }
  detail->setSpecifier(row.specifier);
  push(std::move(detail), row.specifier->name().value_or(row.title));
}

void Browser::press(const SpecifierPtr& row, const ListControllerPtr& page) {
  stack_.back().acted = true;
  rebuilt_ = false;
  row->performAction();
  // An action that did not rebuild its page (an import that stopped jobs) may still have
  // changed what the page would show.
  if (!rebuilt_) rebuild_if_open(page);
}

// Flips a switch through its own setter, so every question and refusal of the page applies,
// then reads it back and says what became of it.
void Browser::flip(const SpecifierPtr& row, const ListControllerPtr& page, bool wanted,
                   const std::string& subject) {
  stack_.back().acted = true;
  rebuilt_ = false;
  declined_ = false;
  row->performSetter(Value(wanted));
  if (!rebuilt_) rebuild_if_open(page, false);
  auto fresh = row_with_setter(*current_specifiers(*page), row->setter());
  bool now = (fresh ? fresh : row)->performGetter().read_bool();
  message_ = flip_outcome(subject, row->setter() == kAliveSetter, wanted, now);
  // The page stores the user's choice before it acts; a choice that did not reach the settings
  // file is lost for the next run, so the user hears of it here.
  if (Status saved = NSUserDefaults::standardUserDefaults()->saveStatus(); !saved)
    message_ = tr_format("{} (not saved: {})", {message_, saved.error().message});
}

std::string Browser::flip_outcome(const std::string& subject, bool job, bool wanted,
                                  bool now) const {
  if (now == wanted)
    return tr_format(job ? (now ? "{} running" : "{} stopped") : (now ? "{}: on" : "{}: off"),
                     {subject});
  std::string_view why = tr(declined_  ? "cancelled"
                            : trouble_ ? "no answer from the control service"
                            : job      ? "the service refused or failed"
                                       : "refused");
  const char* pattern = job ? (now ? "{} is still running: {}" : "{} is still stopped: {}")
                            : (now ? "{} is still on: {}" : "{} is still off: {}");
  return tr_format(pattern, {subject, why});
}

// Rows of a page that is still open are read again, without asking the page to rebuild (a
// setter that did not rebuild its page may still have changed what its getters say), or by
// a rebuild when `rebuild` is set.
void Browser::rebuild_if_open(const ListControllerPtr& page, bool rebuild) {
  for (auto& entry : stack_) {
    if (entry.page != page) continue;
    if (rebuild)
      page->reloadSpecifiers();
    else
      refresh_rows(entry);
    return;
  }
}

// Start or stop the selected job, from the list or on its page, through the job page's own
// "Alive" switch.
void Browser::flip_job(bool start) {
  auto& open = stack_.back();
  if (auto alive = row_with_setter(*current_specifiers(*open.page), kAliveSetter))
    return flip(alive, open.page, start, open.title);
  if (open.selected < 0 || open.rows[static_cast<std::size_t>(open.selected)].kind != RowKind::Link)
    return;
  RowView row = open.rows[static_cast<std::size_t>(open.selected)];
  auto job = ClassRegistry::shared().createPage(row.specifier->detailControllerClass());
  if (!job) return;
  job->setSpecifier(row.specifier);
  job->specifiers();
  auto alive = row_with_setter(*current_specifiers(*job), kAliveSetter);
  if (!alive) {
    message_ = tr_format("{} cannot be started or stopped", {row.title});
    return;
  }
  if (alive->performGetter().read_bool() == start) {
    message_ = tr_format(start ? "{} is already running" : "{} is already stopped", {row.title});
    return;
  }
  flip(alive, job, start, row.title);
  ListControllerPtr list = open.page;
  list->reloadSpecifiers();
}

void Browser::flip_show_system() {
  auto& root = stack_.front();
  ListControllerPtr page = root.page;
  if (auto row = row_with_setter(*current_specifiers(*page), kShowSystemSetter))
    flip(row, page, !row->performGetter().read_bool(), row->name().value_or("Show system jobs"));
}

// Only a job's page has a log: the page with the "Alive" switch, titled with the job's label.
bool Browser::open_log() {
  auto& open = stack_.back();
  if (!context_.fetch_log || !row_with_setter(*current_specifiers(*open.page), kAliveSetter))
    return false;
  log_ = std::make_unique<LogView>(
      open.title, [fetch = context_.fetch_log, label = open.title](const std::string& after) {
        return fetch(label, after);
      });
  return true;
}

void Browser::press_refresh() {
  ListControllerPtr page = stack_.front().page;
  if (auto row = row_with_action(*current_specifiers(*page), kRefreshAction)) press(row, page);
}

std::string local_clock_text() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16] = {};
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

bool Browser::handle_filter_key(const Key& key) {
  const FilterEdit edit = edit_filter(stack_.back().filter, key);
  if (edit == FilterEdit::NotAnEdit) return false;  // movement keys still move while typing
  if (edit == FilterEdit::Ended) editing_filter_ = false;
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
  if (log_) {
    if (!log_->editing_filter() && key.is_char('q'))
      quit_ = true;
    else if (!log_->handle_key(key))
      log_.reset();
    return;
  }
  if (help_) return scroll_help(key);
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
      if (!stack_.back().filter.empty()) {
        stack_.back().filter.clear();
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
      help_top_ = 0;
      return;
    case 'q':
      quit_ = true;
      return;
    default:
      handle_action_key(key.ch);
      return;
  }
}

// The help scrolls with the movement keys; any other key closes it.
void Browser::scroll_help(const Key& key) {
  int step = 0;
  if (key.code == KeyCode::Up || key.is_char('k') || key.code == KeyCode::WheelUp) step = -1;
  if (key.code == KeyCode::Down || key.is_char('j') || key.code == KeyCode::WheelDown) step = 1;
  if (key.code == KeyCode::PageUp) step = -body_height_ / 2;
  if (key.code == KeyCode::PageDown) step = body_height_ / 2;
  if (step == 0) {
    help_ = false;
    return;
  }
  help_top_ = std::max(0, help_top_ + step);
}

// The everyday actions, without leaving the list: start, stop, refresh, system jobs.
bool Browser::handle_action_key(char32_t ch) {
  bool on_list = stack_.size() == 1;
  switch (ch) {
    case 's':
      flip_job(true);
      return true;
    case 'x':
      flip_job(false);
      return true;
    case 'r':
      if (on_list) press_refresh();
      return on_list;
    case 'a':
      if (on_list) flip_show_system();
      return on_list;
    case 'L':
      return open_log();
    default:
      return false;
  }
}

bool Browser::act_on(std::size_t depth, RowKind kind, const std::string& identity) {
  if (depth != stack_.size()) return false;
  auto& rows = stack_.back().rows;
  auto row = std::find_if(rows.begin(), rows.end(), [&](const RowView& view) {
    return view.kind == kind && view.identity == identity;
  });
  if (row == rows.end()) return false;
  message_.clear();
  stack_.back().selected = static_cast<int>(row - rows.begin());
  activate(false);
  return true;
}

void Browser::back_to(std::size_t depth) {
  message_.clear();
  while (stack_.size() > std::max<std::size_t>(depth, 1))
    pop();
}

std::vector<std::string> Browser::titles() const {
  std::vector<std::string> out;
  for (const auto& open : stack_)
    out.push_back(open.title);
  return out;
}

std::string Browser::key_hints() const {
  if (stack_.size() == 1)
    return std::string(tr("? help  Enter open  s/x start/stop  / filter  q quit"));
  return std::string(tr("? help  Space flip  s/x start/stop  L log  Esc back  q quit"));
}

// The filter, the selected job's position among the jobs shown, and whether the rows are stale.
std::string Browser::title_right() const {
  const auto& open = stack_.back();
  std::vector<std::string> parts;
  if (!open.filter.empty()) parts.push_back(tr_format("filter: {}", {open.filter}));
  int jobs = 0, position = 0;
  for (int index : visible_rows(open.rows, open.filter)) {
    if (open.rows[static_cast<std::size_t>(index)].kind != RowKind::Link) continue;
    ++jobs;
    if (index == open.selected) position = jobs;
  }
  if (jobs > 0)
    parts.push_back(tr_format(
        jobs == 1 ? "{} job" : "{} jobs",
        {(position > 0 ? std::to_string(position) + "/" : std::string()) + std::to_string(jobs)}));
  std::string out;
  for (const auto& part : parts)
    out += (out.empty() ? "" : "  ") + part;
  return out;
}

// When the rows were read; while the service does not answer, that they are stale and why.
std::string Browser::status_right() const {
  if (trouble_) return tr_format("STALE: no answer since {} ({})", {trouble_since_, *trouble_});
  if (stack_.size() > 1) return tr_format("read {}", {stack_.back().read_at});
  return tr_format("updated {}", {last_rebuild_});
}

std::string Browser::breadcrumb() const {
  std::string out;
  for (const auto& open : stack_)
    out += (out.empty() ? "" : " › ") + open.title;
  return out;
}

TextGrid Browser::draw(int width, int height) {
  if (log_) return log_->draw(width, height);
  std::string status = key_hints();
  if (editing_filter_)
    status = tr_format("/{}_   Enter keeps it, Esc clears", {stack_.back().filter});
  else if (!message_.empty())
    status = message_;
  TextGrid grid = render(width, height, std::move(status), !message_.empty());
  page_unseen_ = false;
  return grid;
}

TextGrid Browser::draw_waiting_for_service(int width, int height) {
  return render(width, height, std::string(tr(kWaitingForService)), true);
}

TextGrid Browser::draw_under_dialog(int width, int height, const std::string& dialog_keys) {
  TextGrid grid = render(width, height, dialog_keys, true);
  page_unseen_ = false;
  return grid;
}

TextGrid Browser::render(int width, int height, std::string status, bool message) {
  auto& open = stack_.back();
  PageFrame frame;
  frame.title = breadcrumb();
  frame.rows = &open.rows;
  frame.filter = open.filter;
  frame.title_right = title_right();
  frame.selected = open.selected;
  frame.scroll_top = open.scroll_top;
  frame.status_left = std::move(status);
  frame.status_is_message = message;
  frame.status_right = status_right();
  LayoutKey key{open.page.get(), open.generation, open.filter, width};
  if (!layout_ || !(key == layout_key_)) {
    layout_ = layout_body(open.rows, open.filter, width);
    layout_key_ = std::move(key);
  }
  frame.layout = layout_;
  auto rendered = render_page(frame, width, height);
  open.scroll_top = rendered.scroll_top;
  row_at_line_ = std::move(rendered.row_at_line);
  body_height_ = std::max(1, height - 2);
  if (help_) help_top_ = draw_help(rendered.grid, help_top_);
  return std::move(rendered.grid);
}

}  // namespace orv::host

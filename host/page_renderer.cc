#include "host/page_renderer.h"

#include <algorithm>
#include <cctype>

#include "host/host_texts.h"

namespace orv::host {

struct Span {
  int x = 0;
  std::string text;
  Attr attr;
};

struct BodyLine {
  std::vector<Span> spans;
  int row = -1;      // the row this line belongs to; -1 for headers' spacing and footers
  bool job = false;  // a job's line, whose spans are made when it is drawn
};

struct BodyLayout {
  std::vector<BodyLine> lines;
  int label_width = 0;  // the job labels' column
};

namespace {

// Rows are laid out no wider than this, so a switch's state stays near its title on a wide
// terminal.
constexpr int kMaxContentWidth = 100;

constexpr Attr kBarAttr{.bold = true, .reverse = true};
constexpr Attr kGroupAttr{.bold = true, .color = Color::Cyan};
constexpr Attr kFooterAttr{.dim = true};
constexpr Attr kOnAttr{.bold = true, .color = Color::Green};
constexpr Attr kOffAttr{.color = Color::Red};
constexpr Attr kButtonAttr{.bold = true, .color = Color::Blue};
constexpr Attr kDetailAttr{};
constexpr Attr kRunningAttr{.color = Color::Green};
constexpr Attr kStoppedAttr{.color = Color::Red};

Attr dimmed(Attr attr) {
  attr.dim = true;
  attr.bold = false;
  return attr;
}

class BodyBuilder {
 public:
  BodyBuilder(const std::vector<RowView>& rows, int width) : rows_(rows), width_(width) {}

  BodyLayout build(const std::vector<int>& shown) {
    BodyLayout layout;
    for (int index : shown)
      if (const RowView& row = rows_[static_cast<std::size_t>(index)]; row.running)
        layout.label_width = std::max(layout.label_width, display_width(row.title));
    std::string footer;
    for (int index : shown) {
      const RowView& row = rows_[static_cast<std::size_t>(index)];
      if (row.kind == RowKind::Group) {
        add_footer(footer);
        footer = row.footer;
        add_group(row, index);
      } else {
        add_row(row, index);
      }
    }
    add_footer(footer);
    layout.lines = std::move(lines_);
    return layout;
  }

 private:
  void add_group(const RowView& row, int index) {
    if (!lines_.empty()) lines_.push_back({});
    if (!row.title.empty())
      lines_.push_back({{{1, fit_to_width(row.title, width_ - 2), kGroupAttr}}, index});
  }

  // A footer takes one line, so the rows stay in view; the help screen has the long story.
  void add_footer(const std::string& footer) {
    if (footer.empty()) return;
    std::string text = footer;
    std::replace(text.begin(), text.end(), '\n', ' ');
    lines_.push_back({{{2, fit_to_width(text, std::max(1, width_ - 4)), kFooterAttr}}, -1});
  }

  // A job takes one line; its spans are made only when the line is drawn (job_spans), since a
  // list may hold thousands of jobs and a screen shows a few dozen.
  void add_job(int index) { lines_.push_back({{}, index, true}); }

  // The right-hand marker of a row: a switch's state word, a link's arrow.
  Span marker(const RowView& row) const {
    if (row.kind == RowKind::Switch) {
      bool on = row.switch_on.value_or(false);
      return {width_ - 7, on ? "[ on]" : "[off]", on ? kOnAttr : kOffAttr};
    }
    if (row.kind == RowKind::Link) return {width_ - 3, "›", {.bold = true}};
    return {};
  }

  void add_row(const RowView& row, int index) {
    if (row.running && row.kind == RowKind::Link) return add_job(index);
    Span right = marker(row);
    int title_room = (right.text.empty() ? width_ - 2 : right.x - 1) - 2;
    BodyLine first{{}, index};
    std::vector<std::string> title_lines;
    if (row.kind == RowKind::Button) {
      first.spans.push_back(
          {2, "[ " + fit_to_width(row.title, title_room - 4) + " ]", kButtonAttr});
    } else if (!row.title.empty()) {
      // A long title wraps instead of losing its end: a label is read to the last character.
      title_lines = wrap_words(row.title, std::max(1, title_room));
      first.spans.push_back({2, title_lines.front(), {}});
    }
    if (!right.text.empty()) first.spans.push_back(right);
    bool has_first = !first.spans.empty();
    if (has_first) lines_.push_back(first);
    for (std::size_t i = 1; i < title_lines.size(); ++i)
      lines_.push_back({{{2, title_lines[i], {}}}, index});

    if (!row.detail.empty()) {
      int indent = has_first ? 4 : 2;
      int room = std::max(1, width_ - indent - 1);
      std::vector<std::string> detail =
          row.wrap_detail ? wrap_words(row.detail, room)
                          : std::vector<std::string>{fit_to_width(row.detail, room)};
      for (const auto& text : detail)
        lines_.push_back({{{indent, text, kDetailAttr}}, index});
    }
    if (!has_first && row.detail.empty()) lines_.push_back({{}, index});
    if (!row.enabled)
      for (auto& line : lines_)
        if (line.row == index)
          for (auto& span : line.spans)
            span.attr = dimmed(span.attr);
  }

  const std::vector<RowView>& rows_;
  int width_;
  std::vector<BodyLine> lines_;
};

// A job's line on a list: its label, as much of its description as fits, and its state word
// (the detail's last word), coloured; its page shows the whole text.
std::vector<Span> job_spans(const RowView& row, int width, int label_width) {
  std::string_view detail = row.detail;
  std::size_t cut = detail.rfind(' ');
  std::string_view state = cut == std::string_view::npos ? detail : detail.substr(cut + 1);
  std::string_view description =
      cut == std::string_view::npos ? std::string_view() : detail.substr(0, cut);
  int arrow_x = width - 3;
  int state_x = std::max(2, arrow_x - 1 - display_width(state));
  int label_room = std::max(1, std::min({state_x - 4, width * 3 / 5, label_width}));
  int description_x = 2 + label_room + 2;
  std::vector<Span> spans{{2, fit_to_width(row.title, label_room), {}}};
  if (state_x - 1 - description_x > 3)
    spans.push_back(
        {description_x, fit_to_width(description, state_x - 1 - description_x), kFooterAttr});
  spans.push_back(
      {state_x, std::string(state), row.running.value_or(false) ? kRunningAttr : kStoppedAttr});
  spans.push_back({arrow_x, "›", {.bold = true}});
  return spans;
}

// First body line shown: the previous scroll position, moved just enough to show the
// selected row whole (or its top when it is taller than the body).
int scroll_for(const std::vector<BodyLine>& lines, int selected, int previous, int body_height) {
  int last_top = std::max(0, static_cast<int>(lines.size()) - body_height);
  int top = std::clamp(previous, 0, last_top);
  int first = -1, last = -1;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i)
    if (lines[static_cast<std::size_t>(i)].row == selected && selected >= 0) {
      if (first < 0) first = i;
      last = i;
    }
  if (first < 0) return top;
  if (last >= top + body_height) top = last - body_height + 1;
  if (first < top) top = first;
  return std::clamp(top, 0, last_top);
}

}  // namespace

void draw_bar(TextGrid& grid, int y, const std::string& left, const std::string& right) {
  grid.fill_row(y, kBarAttr);
  int right_width = display_width(right);
  int room = grid.width() - 2 - (right.empty() ? 0 : right_width + 2);
  grid.put(1, y, fit_to_width(left, std::max(0, room)), kBarAttr);
  if (!right.empty() && right_width + 2 < grid.width())
    grid.put(grid.width() - 1 - right_width, y, right, kBarAttr);
}

bool row_matches(const RowView& row, const std::string& filter) {
  if (filter.empty()) return true;
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  };
  auto contains = [&](std::string_view text) {
    return std::search(text.begin(), text.end(), filter.begin(), filter.end(), same) != text.end();
  };
  return contains(row.title) || contains(row.detail);
}

std::vector<int> visible_rows(const std::vector<RowView>& rows, const std::string& filter) {
  std::vector<int> shown;
  int pending_group = -1;
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    const RowView& row = rows[static_cast<std::size_t>(i)];
    if (row.kind == RowKind::Group) {
      if (filter.empty())
        shown.push_back(i);
      else
        pending_group = i;
      continue;
    }
    if (!row_matches(row, filter)) continue;
    if (pending_group >= 0) shown.push_back(pending_group);
    pending_group = -1;
    shown.push_back(i);
  }
  return shown;
}

std::shared_ptr<const BodyLayout> layout_body(const std::vector<RowView>& rows,
                                              const std::string& filter, int width) {
  int content_width = std::min(std::max(width, 1), kMaxContentWidth);
  return std::make_shared<const BodyLayout>(
      BodyBuilder(rows, content_width).build(visible_rows(rows, filter)));
}

RenderedPage render_page(const PageFrame& frame, int width, int height) {
  RenderedPage out{TextGrid(width, height), 0, {}};
  TextGrid& grid = out.grid;
  out.row_at_line.assign(static_cast<std::size_t>(grid.height()), -1);
  static const std::vector<RowView> kNoRows;
  const auto& rows = frame.rows ? *frame.rows : kNoRows;

  draw_bar(grid, 0, frame.title, frame.title_right);
  if (grid.height() > 1) {
    // A message outranks the time on its right: it was said once and will be gone.
    bool crowded =
        display_width(frame.status_left) + display_width(frame.status_right) + 4 > grid.width();
    draw_bar(grid, grid.height() - 1, frame.status_left,
             frame.status_is_message && crowded ? std::string() : frame.status_right);
  }

  int body_top = 1;
  int body_height = std::max(0, grid.height() - 2);
  int content_width = std::min(grid.width(), kMaxContentWidth);
  auto layout = frame.layout ? frame.layout : layout_body(rows, frame.filter, grid.width());
  const auto& lines = layout->lines;
  if (lines.empty() && body_height > 0) {
    grid.put(2, body_top, tr(frame.filter.empty() ? "(empty page)" : "No rows match the filter."),
             {.dim = true});
    return out;
  }
  out.scroll_top = scroll_for(lines, frame.selected, frame.scroll_top, body_height);
  for (int i = 0; i < body_height; ++i) {
    std::size_t index = static_cast<std::size_t>(out.scroll_top + i);
    if (index >= lines.size()) break;
    const BodyLine& line = lines[index];
    int y = body_top + i;
    out.row_at_line[static_cast<std::size_t>(y)] = line.row;
    bool selected = line.row >= 0 && line.row == frame.selected &&
                    rows[static_cast<std::size_t>(line.row)].selectable();
    const auto& spans = line.job ? job_spans(rows[static_cast<std::size_t>(line.row)],
                                             content_width, layout->label_width)
                                 : line.spans;
    for (const auto& span : spans)
      grid.put(span.x, y, span.text, span.attr);
    if (selected)
      for (int x = 0; x < content_width; ++x) {
        Attr attr = grid.at(x, y).attr;
        attr.reverse = true;
        grid.paint(x, y, 1, attr);
      }
  }
  return out;
}

int draw_help(TextGrid& grid, int first_line) {
  static const char* const kLines[] = {
      "Keys",
      "",
      "  Up/Down, k/j, wheel  move",
      "  PgUp/PgDn            half a screen up/down",
      "  Home/End, g/G        first/last row",
      "  Enter, Right, l      open a page, press a button, flip a switch",
      "  Space                flip a switch",
      "  s / x                start / stop the selected job",
      "  r                    rebuild the list now",
      "  a                    show or hide system jobs",
      "  /                    filter rows by text (Esc clears it)",
      "  L                    a job's log, following new lines (on its page)",
      "  Esc, Left, h         back to the previous page",
      "  click                select a row; click it again to act",
      "  ?                    this help (Up/Down scroll it)",
      "  q, Ctrl-C            quit",
      "  In a dialog: Tab or arrows choose, Enter answers, Esc cancels",
      "",
      "Legend",
      "",
      "  [ on] / [off]        a switch and its state",
      "  running / stopped    a job's state, also in green / red",
      "  ›                    opens a page of its own",
      "  [ Button ]           an action",
      "  dimmed row           shown only: it cannot be changed",
      "  STALE                the service did not answer: the rows are",
      "                       the last ones it sent",
      "",
      "The list rebuilds itself every 10 seconds and after each action;",
      "the status bar says when. A job's page says when it was read.",
      "Any other key closes this.",
  };
  int count = static_cast<int>(std::size(kLines));
  int width = 0;
  for (const char* line : kLines)
    width = std::max(width, display_width(tr(line)));
  width = std::min(width + 4, grid.width());
  int height = std::min(count + 2, grid.height());
  int shown = std::max(0, height - 2);
  first_line = std::clamp(first_line, 0, std::max(0, count - shown));
  int left = std::max(0, (grid.width() - width) / 2);
  int top = std::max(0, (grid.height() - height) / 2);
  for (int y = top; y < top + height; ++y) {
    grid.put(left, y, std::string(static_cast<std::size_t>(width), ' '), {});
    grid.paint(left, y, width, {});
  }
  for (int i = 0; i < shown; ++i) {
    int index = first_line + i;
    const char* line = kLines[index];
    bool heading = std::string_view(line) == "Keys" || std::string_view(line) == "Legend";
    grid.put(left + 2, top + 1 + i, fit_to_width(tr(line), width - 3),
             heading ? Attr{.bold = true} : Attr{});
  }
  grid.paint(left, top, width, {.reverse = true});
  grid.paint(left, top + height - 1, width, {.reverse = true});
  if (first_line > 0) grid.put(left + width - 3, top, "↑", {.reverse = true});
  if (first_line + shown < count)
    grid.put(left + width - 3, top + height - 1, "↓", {.reverse = true});
  return first_line;
}

}  // namespace orv::host

// Draws one page into a text grid: a title bar, the rows as a grouped list, and a status bar.
// Pure: the same input gives the same grid, so screens are tested as text.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/row_view.h"
#include "host/text_grid.h"

namespace orv::host {

// The body of a page laid out as lines, for rows under a filter at a width. Laying out is the
// costly part of drawing a long list, so a caller that draws the same rows again keeps it.
struct BodyLayout;
std::shared_ptr<const BodyLayout> layout_body(const std::vector<RowView>& rows,
                                              const std::string& filter, int width);

struct PageFrame {
  std::string title{};
  std::string title_right{};
  const std::vector<RowView>* rows = nullptr;
  std::string filter{};  // rows whose texts contain it (ignoring case); empty: all
  int selected = -1;     // index into rows
  int scroll_top = 0;    // first body line shown
  std::string status_left{};
  bool status_is_message = false;  // status_left goes before status_right when both do not fit
  std::string status_right{};
  // The body laid out by layout_body() for these rows, filter and width; null: laid out here.
  std::shared_ptr<const BodyLayout> layout{};
};

struct RenderedPage {
  TextGrid grid;
  int scroll_top = 0;            // adjusted so the selected row is in view
  std::vector<int> row_at_line;  // per screen line: the row drawn there, or -1
};

RenderedPage render_page(const PageFrame& frame, int width, int height);

// Whether a row passes the filter: its title or detail contains the text, ignoring ASCII case.
bool row_matches(const RowView& row, const std::string& filter);
// A title or status bar across row y: `left` cut to fit, `right` flush right when it fits.
void draw_bar(TextGrid& grid, int y, const std::string& left, const std::string& right);
// The rows shown under a filter, in order: the matching rows and the groups that hold them.
std::vector<int> visible_rows(const std::vector<RowView>& rows, const std::string& filter);

// The key legend drawn over a page by `?`, from its line `first_line` on when it does not fit
// (arrows on its edges say that more lies above or below). Returns the first line drawn.
int draw_help(TextGrid& grid, int first_line);

}  // namespace orv::host

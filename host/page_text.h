// Pages as plain text for the command line: an aligned job table, a page's sections, and the
// JSON form of a page's specifiers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/row_view.h"
#include "host/text_grid.h"

namespace orv::host {

// The switches of the page as "name: on|off" lines, then a LABEL / STATUS table of the rows
// that open a page, fitted to `width` columns (long status texts wrap inside their column).
std::string format_job_list(const std::vector<RowView>& rows, int width);

// Every row of a page under a title line: sections with their headers and footers, switch
// states as words, multi-line texts wrapped and indented.
std::string format_page(std::string_view title, const std::vector<RowView>& rows, int width);

// {"page": <class>, "rows": [...]}, one object per specifier. Reads each switch's getter now.
std::optional<std::string> page_json(std::string_view page_class, const SpecifierList& specifiers);

}  // namespace orv::host

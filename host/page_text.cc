#include "host/page_text.h"

#include <algorithm>

#include "platform/json/json.h"

namespace orv::host {

namespace {

std::string pad_to(std::string_view text, int width) {
  std::string out(text);
  out.append(static_cast<std::size_t>(std::max(0, width - display_width(text))), ' ');
  return out;
}

std::string on_off(const RowView& row) {
  return row.switch_on.value_or(false) ? "on" : "off";
}

void append_wrapped(std::string& out, std::string_view text, int indent, int width) {
  for (const auto& line : wrap_words(printable(text), std::max(10, width - indent)))
    out += std::string(static_cast<std::size_t>(indent), ' ') + line + "\n";
}

// One table line per job; the status wraps inside its column, a label too wide for its
// column gets a line of its own so it is never cut.
void append_job(std::string& out, const RowView& row, int label_width, int width) {
  int status_width = std::max(10, width - label_width - 2);
  auto status = wrap_words(printable(row.detail), status_width);
  std::string title = printable(row.title);
  bool own_line = display_width(title) > label_width;
  if (own_line) out += title + "\n";
  std::string indent(static_cast<std::size_t>(label_width + 2), ' ');
  for (std::size_t i = 0; i < status.size(); ++i) {
    std::string lead = (i == 0 && !own_line) ? pad_to(title, label_width + 2) : indent;
    std::string line = lead + status[i];
    line.erase(line.find_last_not_of(' ') + 1);
    out += line + "\n";
  }
}

// A value for the JSON form: what JSON can carry as it is, null otherwise.
Value json_safe(const Value& value) {
  if (value.is_null()) return value;
  return write_json(Value(Array{value})) ? value : Value();
}

Value text_or_null(const std::string& text) {
  return text.empty() ? Value() : Value(text);
}

Value row_json(Specifier& s) {
  Dictionary row;
  row.set("name", s.name() ? json_safe(Value(*s.name())) : Value());
  row.set("cell", Value(s.cellType()));
  auto cell_class = s.propertyForKey(PSCellClassKey).read_string();
  row.set("cellClass", cell_class ? Value(*cell_class) : Value());
  row.set("detail", text_or_null(s.detailControllerClass()));
  row.set("content", json_safe(s.propertyForKey("content")));
  row.set("key", json_safe(s.propertyForKey(PSKeyNameKey)));
  row.set("enabled", json_safe(s.propertyForKey(PSEnabledKey)));
  row.set("action", text_or_null(s.action()));
  row.set("get", text_or_null(s.getter()));
  row.set("set", text_or_null(s.setter()));
  Value value;
  if (!s.getter().empty()) value = json_safe(s.performGetter());
  row.set("value", value);
  return Value(std::move(row));
}

}  // namespace

std::string format_job_list(const std::vector<RowView>& rows, int width) {
  std::string out;
  for (const auto& row : rows)
    if (row.kind == RowKind::Switch) out += printable(row.title) + ": " + on_off(row) + "\n";

  std::vector<const RowView*> jobs;
  for (const auto& row : rows)
    if (opens_page(*row.specifier)) jobs.push_back(&row);
  if (!out.empty()) out += "\n";
  if (jobs.empty()) return out + "No jobs listed.\n";

  int label_width = 5;
  for (const auto* job : jobs)
    label_width = std::max(label_width, display_width(job->title));
  label_width = std::min(label_width, std::max(5, width / 2));
  out += pad_to("LABEL", label_width + 2) + "STATUS\n";
  for (const auto* job : jobs)
    append_job(out, *job, label_width, width);
  return out;
}

std::string format_page(std::string_view title, const std::vector<RowView>& rows, int width) {
  std::string out = printable(title) + "\n";
  int name_width = 12;
  for (const auto& row : rows)
    if (row.kind == RowKind::Switch) name_width = std::max(name_width, display_width(row.title));

  std::string pending_footer;
  for (const auto& row : rows) {
    std::string name = printable(row.title);
    switch (row.kind) {
      case RowKind::Group:
        if (!pending_footer.empty()) append_wrapped(out, pending_footer, 2, width);
        pending_footer = row.footer;
        out += "\n";
        if (!name.empty()) out += name + "\n";
        break;
      case RowKind::Switch:
        out += "  " + pad_to(name, name_width + 2) + on_off(row) +
               (row.enabled ? "" : " (read-only)") + "\n";
        break;
      case RowKind::Button:
        out += "  [" + name + "]\n";
        break;
      case RowKind::Link:
        out += "  " + name + " >\n";
        break;
      case RowKind::Text:
        if (!name.empty()) out += "  " + name + "\n";
        break;
    }
    int indent = row.kind == RowKind::Text && row.title.empty() ? 2 : 4;
    if (row.kind != RowKind::Group && !row.detail.empty())
      append_wrapped(out, row.detail, indent, width);
  }
  if (!pending_footer.empty()) append_wrapped(out, pending_footer, 2, width);
  return out;
}

std::optional<std::string> page_json(std::string_view page_class, const SpecifierList& specifiers) {
  Array rows;
  rows.reserve(specifiers.size());
  for (const auto& s : specifiers)
    if (s) rows.push_back(row_json(*s));
  Dictionary page;
  page.set("page", Value(page_class));
  page.set("rows", Value(std::move(rows)));
  return write_json(Value(std::move(page)));
}

}  // namespace orv::host

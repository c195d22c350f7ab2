#include "host/row_view.h"

#include "platform/ui/class_registry.h"
#include "platform/ui/table_cell.h"

namespace orv::host {

namespace {

// The property in which a job row keeps the record its page shows.
constexpr std::string_view kJobRecordKey = "detail";

std::string string_property(const Specifier& s, std::string_view key) {
  auto text = s.propertyForKey(key).read_string();
  return text ? std::string(*text) : std::string();
}

bool enabled_property(const Specifier& s) {
  const Value& enabled = s.propertyForKey(PSEnabledKey);
  return enabled.is_null() || enabled.read_bool();
}

RowKind kind_of(const Specifier& s) {
  switch (s.cellType()) {
    case PSGroupCell:
      return RowKind::Group;
    case PSSwitchCell:
      return RowKind::Switch;
    case PSButtonCell:
      return RowKind::Button;
    default:
      break;
  }
  if (opens_page(s)) return RowKind::Link;
  if (!s.action().empty()) return RowKind::Button;
  return RowKind::Text;
}

// A row naming a cell class is drawn from a cell of that class, as the platform does.
void apply_cell(const SpecifierPtr& specifier, RowView& row) {
  auto cell_class = specifier->propertyForKey(PSCellClassKey).read_string();
  if (!cell_class) return;
  auto cell = ClassRegistry::shared().createCell(*cell_class);
  if (!cell ||
      !cell->initWithStyle(UITableViewCellStyle::Default, std::string(*cell_class), specifier))
    return;
  row.title = cell->textLabel().text;
  row.detail = cell->detailTextLabel().text;
  row.wrap_detail = cell->detailTextLabel().numberOfLines == 0 &&
                    (cell->detailTextLabel().lineBreakMode == NSLineBreakByWordWrapping ||
                     cell->detailTextLabel().lineBreakMode == NSLineBreakByCharWrapping);
}

}  // namespace

std::shared_ptr<SpecifierList> current_specifiers(ListController& page) {
  auto list = page.currentSpecifiers();
  return list ? list : std::make_shared<SpecifierList>();
}

SpecifierPtr row_with_setter(const SpecifierList& rows, std::string_view setter) {
  for (const auto& row : rows)
    if (row && row->setter() == setter) return row;
  return nullptr;
}

SpecifierPtr row_with_action(const SpecifierList& rows, std::string_view action) {
  for (const auto& row : rows)
    if (row && row->action() == action) return row;
  return nullptr;
}

bool opens_page(const Specifier& specifier) {
  return !specifier.detailControllerClass().empty();
}

RowView describe_row(const SpecifierPtr& specifier) {
  RowView row;
  row.specifier = specifier;
  row.kind = kind_of(*specifier);
  row.title = specifier->name().value_or("");
  row.enabled = enabled_property(*specifier);
  row.footer = string_property(*specifier, PSFooterTextGroupKey);
  row.identity = string_property(*specifier, PSKeyNameKey);
  if (row.identity.empty()) row.identity = row.title;
  apply_cell(specifier, row);
  if (row.kind == RowKind::Switch) row.switch_on = specifier->performGetter().read_bool();
  // A job row carries its record; a job without a "Pid" counts as running, as its page says.
  const Value& record = specifier->propertyForKey(kJobRecordKey);
  if (row.kind == RowKind::Link && record.is_dictionary())
    row.running = record["Pid"].read_int32() >= 0;
  return row;
}

std::vector<RowView> describe_rows(const SpecifierList& specifiers) {
  std::vector<RowView> rows;
  rows.reserve(specifiers.size());
  for (const auto& specifier : specifiers)
    if (specifier) rows.push_back(describe_row(specifier));
  return rows;
}

}  // namespace orv::host

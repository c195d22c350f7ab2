// What the host shows of one specifier: its kind, texts and state, read once from the page
// objects (cell, getter, properties) so that drawing and printing never call back into a page.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/list_controller.h"
#include "platform/ui/preference_row.h"

namespace orv::host {

enum class RowKind { Group, Switch, Button, Link, Text };

struct RowView {
  RowKind kind = RowKind::Text;
  std::string title;              // the cell's title label, or the specifier's name
  std::string detail;             // the cell's detail label (empty: none)
  bool wrap_detail = false;       // the cell asked for as many lines as the detail needs
  std::optional<bool> switch_on;  // switches: what the getter says now
  std::optional<bool> running;    // rows that open a job's record: whether its job runs
  bool enabled = true;
  std::string footer;    // groups: "footerText"
  std::string identity;  // "key" property, else the name: keeps the selection across rebuilds
  SpecifierPtr specifier;

  bool selectable() const { return kind != RowKind::Group; }
  // Whether Enter/Space/a click does something on this row.
  bool operable() const { return enabled && kind != RowKind::Group && kind != RowKind::Text; }
};

// The list a page holds now, as its last build left it. Unlike calling specifiers(), this
// does not rebuild the page (the root page asks the control service at every build).
std::shared_ptr<SpecifierList> current_specifiers(ListController& page);

RowView describe_row(const SpecifierPtr& specifier);
std::vector<RowView> describe_rows(const SpecifierList& specifiers);

// The first row whose setter, or whose action, is the given selector; null when none is.
SpecifierPtr row_with_setter(const SpecifierList& rows, std::string_view setter);
SpecifierPtr row_with_action(const SpecifierList& rows, std::string_view action);

// Whether a row is a job-style link row: one that opens a page of its own.
bool opens_page(const Specifier& specifier);

}  // namespace orv::host

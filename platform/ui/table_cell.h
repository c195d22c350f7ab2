// A table cell: what a host draws for one row. A cell holds a title label and a detail label;
// the host reads them and draws; a page or a cell class never draws.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/preference_row.h"

namespace orv {

enum class UITableViewCellStyle : int { Default = 0, Value1 = 1, Value2 = 2, Subtitle = 3 };

// NSLineBreakMode values the host understands.
enum NSLineBreakMode : int {
  NSLineBreakByWordWrapping = 0,
  NSLineBreakByCharWrapping = 1,
  NSLineBreakByClipping = 2,
  NSLineBreakByTruncatingHead = 3,
  NSLineBreakByTruncatingTail = 4,
  NSLineBreakByTruncatingMiddle = 5,
};

struct UILabel {
  std::string text;
  int numberOfLines = 1;  // 0: as many as the text needs
  int lineBreakMode = NSLineBreakByTruncatingTail;
};

class TableCell {
 public:
  virtual ~TableCell() = default;

  // initWithStyle:reuseIdentifier:specifier:. The base sets the title label to the specifier's
  // name. Returns this cell, or nullptr when it could not be initialised.
  virtual TableCell* initWithStyle(UITableViewCellStyle style, std::string reuseIdentifier,
                                   SpecifierPtr specifier);

  UITableViewCellStyle style() const { return style_; }
  const std::string& reuseIdentifier() const { return reuse_identifier_; }
  const SpecifierPtr& specifier() const { return specifier_; }
  UILabel& textLabel() { return text_label_; }
  UILabel& detailTextLabel() { return detail_text_label_; }
  const UILabel& textLabel() const { return text_label_; }
  const UILabel& detailTextLabel() const { return detail_text_label_; }

 private:
  UITableViewCellStyle style_ = UITableViewCellStyle::Default;
  std::string reuse_identifier_;
  SpecifierPtr specifier_;
  UILabel text_label_;
  UILabel detail_text_label_;
};

}  // namespace orv

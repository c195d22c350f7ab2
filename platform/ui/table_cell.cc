#include "platform/ui/table_cell.h"

namespace orv {

TableCell* TableCell::initWithStyle(UITableViewCellStyle style, std::string reuseIdentifier,
                                    SpecifierPtr specifier) {
  style_ = style;
  reuse_identifier_ = std::move(reuseIdentifier);
  specifier_ = std::move(specifier);
  text_label_.text = specifier_ && specifier_->name() ? *specifier_->name() : std::string();
  return this;
}

}  // namespace orv

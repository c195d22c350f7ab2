// The bundle's cell for long texts: the row's name on top and, below it, the specifier's
// "content" text wrapped at word boundaries over as many lines as it needs. Rows choose it by
// naming "OrvaneMultilineCell" in their "cellClass" property.
#pragma once

#include <string>

#include "platform/ui/table_cell.h"

class OrvaneMultilineCell : public orv::TableCell {
 public:
  static constexpr const char* kClassName = "OrvaneMultilineCell";

  // Always the subtitle style, whatever style is asked for. The content is read once, here.
  orv::TableCell* initWithStyle(orv::UITableViewCellStyle style, std::string reuseIdentifier,
                                orv::SpecifierPtr specifier) override;
};

#include "detail/multiline_cell.h"

#include <memory>

#include "platform/ui/class_registry.h"

namespace {

const orv::Registrar kRegisterMultilineCell([] {
  orv::ClassRegistry::shared().registerCell(OrvaneMultilineCell::kClassName,
                                            [] { return std::make_unique<OrvaneMultilineCell>(); });
});

}  // namespace

orv::TableCell* OrvaneMultilineCell::initWithStyle(orv::UITableViewCellStyle,
                                                   std::string reuseIdentifier,
                                                   orv::SpecifierPtr specifier) {
  orv::TableCell* cell = orv::TableCell::initWithStyle(orv::UITableViewCellStyle::Subtitle,
                                                       std::move(reuseIdentifier), specifier);
  if (!cell) return nullptr;
  orv::UILabel& detail = cell->detailTextLabel();
  detail.numberOfLines = 0;
  detail.lineBreakMode = orv::NSLineBreakByWordWrapping;
  const orv::Value& content = specifier ? specifier->propertyForKey("content") : orv::null_value();
  detail.text = content.read_string().value_or("");
  return cell;
}

#include "platform/ui/list_controller.h"

#include "platform/plist/plist_file.h"
#include "platform/ui/class_registry.h"

namespace orv {

namespace {

std::string string_or(const Value& v, std::string fallback = {}) {
  auto s = v.read_string();
  return s ? std::string(*s) : fallback;
}

// "cell" names a cell type. An entry without one (or with something that is not a name) is a
// group, as the platform reads group entries; an unknown name still shows its label, as plain
// static text, rather than vanishing from the page.
int cell_type_of(const Dictionary& entry) {
  auto name = entry.get(PSTableCellKey).read_string();
  if (!name) return PSGroupCell;
  return cell_type_named(*name).value_or(PSStaticTextCell);
}

// The page class a link row opens: kept only when such a page is registered.
std::string detail_class_of(const Dictionary& entry) {
  auto name = entry.get(PSDetailControllerClassKey).read_string();
  if (!name || !ClassRegistry::shared().hasPage(*name)) return {};
  return std::string(*name);
}

SpecifierPtr specifier_from_entry(const Dictionary& entry,
                                  const std::shared_ptr<ListController>& target) {
  std::optional<std::string> name;
  if (auto label = entry.get(PSTitleKey).read_string()) name = std::string(*label);
  auto row = Specifier::preferenceSpecifierNamed(name, target, string_or(entry.get(PSSetterKey)),
                                                 string_or(entry.get(PSGetterKey)),
                                                 detail_class_of(entry), cell_type_of(entry), {});
  row->setAction(string_or(entry.get(PSActionKey)));
  for (const auto& [key, value] : entry)
    row->setProperty(value, key);

  // A cell class is only worth keeping when a cell of that name can be made.
  auto cell_class = entry.get(PSCellClassKey).read_string();
  if (!cell_class || !ClassRegistry::shared().hasCell(*cell_class))
    row->setProperty(Value(), PSCellClassKey);
  if (!entry.get(PSIDKey).is_string()) row->setProperty(name ? Value(*name) : Value(), PSIDKey);
  return row;
}

}  // namespace

std::shared_ptr<SpecifierList> ListController::specifiers() {
  if (!_specifiers) _specifiers = std::make_shared<SpecifierList>();
  return _specifiers;
}

void ListController::reloadSpecifiers() {
  _specifiers.reset();
  specifiers();
  if (reload_observer_) reload_observer_(*this);
}

std::shared_ptr<SpecifierList> ListController::loadSpecifiersFromPlistName(
    std::string_view name, const std::shared_ptr<ListController>& target) {
  auto list = std::make_shared<SpecifierList>();
  std::string path = bundle_path_ + "/" + std::string(name) + ".plist";
  Value root = dictionary_with_contents_of_file(path);
  const Array* items = root["items"].if_array();
  if (!items) return list;
  for (const auto& item : *items)
    if (const Dictionary* entry = item.if_dictionary())
      list->push_back(specifier_from_entry(*entry, target));
  return list;
}

}  // namespace orv

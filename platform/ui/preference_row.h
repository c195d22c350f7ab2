// A specifier: one row of a list page. It names what the row shows (name, cell type), whom it
// talks to (a target page, held weakly, and the getter, setter and action selectors that the
// target answers) and which page a link row opens (the detail class). Its properties dictionary
// carries everything else ("cellClass", "content", "enabled", "key", "detail", ...).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/value/value.h"

namespace orv {

class ListController;

// The platform's cell type numbers.
enum PSCellType : int {
  PSGroupCell = 0,
  PSLinkCell = 1,
  PSLinkListCell = 2,
  PSListItemCell = 3,
  PSTitleValueCell = 4,
  PSSliderCell = 5,
  PSSwitchCell = 6,
  PSStaticTextCell = 7,
  PSEditTextCell = 8,
  PSSegmentCell = 9,
  PSGiantIconCell = 10,
  PSGiantCell = 11,
  PSSecureEditTextCell = 12,
  PSButtonCell = 13,
  PSEditTextViewCell = 14,
};

// The cell type for a name as specifier resources write it ("PSSwitchCell"), or nullopt.
std::optional<int> cell_type_named(std::string_view name);
std::string_view cell_type_name(int type);

// The platform's property keys.
inline constexpr std::string_view PSCellClassKey = "cellClass";
inline constexpr std::string_view PSEnabledKey = "enabled";
inline constexpr std::string_view PSKeyNameKey = "key";
inline constexpr std::string_view PSIDKey = "id";
inline constexpr std::string_view PSTitleKey = "label";
inline constexpr std::string_view PSTableCellKey = "cell";
inline constexpr std::string_view PSActionKey = "action";
inline constexpr std::string_view PSGetterKey = "get";
inline constexpr std::string_view PSSetterKey = "set";
inline constexpr std::string_view PSDefaultValueKey = "default";
inline constexpr std::string_view PSDetailControllerClassKey = "detail";
inline constexpr std::string_view PSFooterTextGroupKey = "footerText";

class Specifier;
using SpecifierPtr = std::shared_ptr<Specifier>;
using SpecifierList = std::vector<SpecifierPtr>;

class Specifier {
 public:
  // preferenceSpecifierNamed:target:set:get:detail:cell:edit:. Selector and class names are
  // empty for "none". The target is held weakly.
  static SpecifierPtr preferenceSpecifierNamed(std::optional<std::string> name,
                                               const std::shared_ptr<ListController>& target,
                                               std::string set, std::string get, std::string detail,
                                               int cell, std::string edit);

  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> name) { name_ = std::move(name); }

  std::shared_ptr<ListController> target() const { return target_.lock(); }
  void setTarget(const std::shared_ptr<ListController>& target) { target_ = target; }
  const std::string& setter() const { return setter_; }
  const std::string& getter() const { return getter_; }
  const std::string& detailControllerClass() const { return detail_; }
  const std::string& editPaneClass() const { return edit_; }
  int cellType() const { return cell_; }
  // The legacy action selector of button rows ("action" in a specifier resource).
  const std::string& action() const { return action_; }
  void setAction(std::string selector) { action_ = std::move(selector); }

  // setProperty:forKey: (a null value removes the key), propertyForKey: (null when missing).
  void setProperty(Value value, std::string_view key);
  const Value& propertyForKey(std::string_view key) const { return properties_.get(key); }
  const Dictionary& properties() const { return properties_; }

  // Convenience for hosts: send the getter, setter or action to the target by selector name.
  // Each is a no-op (null / false) when the target is gone or does not answer the selector.
  Value performGetter();
  bool performSetter(const Value& value);
  bool performAction();

 private:
  std::optional<std::string> name_;
  std::weak_ptr<ListController> target_;
  std::string setter_, getter_, detail_, edit_, action_;
  int cell_ = PSGroupCell;
  Dictionary properties_;
};

}  // namespace orv

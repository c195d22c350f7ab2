#include "platform/ui/preference_row.h"

#include <array>

#include "platform/ui/class_registry.h"
#include "platform/ui/list_controller.h"

namespace orv {

namespace {

// Indexed by cell type number.
constexpr std::array<std::string_view, 15> kCellTypeNames = {
    "PSGroupCell",          "PSLinkCell",    "PSLinkListCell",     "PSListItemCell",
    "PSTitleValueCell",     "PSSliderCell",  "PSSwitchCell",       "PSStaticTextCell",
    "PSEditTextCell",       "PSSegmentCell", "PSGiantIconCell",    "PSGiantCell",
    "PSSecureEditTextCell", "PSButtonCell",  "PSEditTextViewCell",
};

}  // namespace

std::optional<int> cell_type_named(std::string_view name) {
  for (std::size_t i = 0; i < kCellTypeNames.size(); ++i)
    if (kCellTypeNames[i] == name) return static_cast<int>(i);
  return std::nullopt;
}

std::string_view cell_type_name(int type) {
  if (type < 0 || static_cast<std::size_t>(type) >= kCellTypeNames.size()) return {};
  return kCellTypeNames[static_cast<std::size_t>(type)];
}

SpecifierPtr Specifier::preferenceSpecifierNamed(std::optional<std::string> name,
                                                 const std::shared_ptr<ListController>& target,
                                                 std::string set, std::string get,
                                                 std::string detail, int cell, std::string edit) {
  auto s = std::make_shared<Specifier>();
  s->name_ = std::move(name);
  s->target_ = target;
  s->setter_ = std::move(set);
  s->getter_ = std::move(get);
  s->detail_ = std::move(detail);
  s->cell_ = cell;
  s->edit_ = std::move(edit);
  return s;
}

void Specifier::setProperty(Value value, std::string_view key) {
  // Rows carry a handful of properties (a job row five); room for them at once saves the
  // vector's regrowth on every row of every rebuild.
  constexpr std::size_t kUsualPropertyCount = 6;
  if (properties_.empty()) properties_.reserve(kUsualPropertyCount);
  if (value.is_null())
    properties_.remove(key);
  else
    properties_.set(std::string(key), std::move(value));
}

Value Specifier::performGetter() {
  auto page = target();
  if (!page || getter_.empty()) return Value();
  const auto* getter = ClassRegistry::shared().getter(page->className(), getter_);
  return getter ? (*getter)(*page, *this) : Value();
}

bool Specifier::performSetter(const Value& value) {
  auto page = target();
  if (!page || setter_.empty()) return false;
  const auto* setter = ClassRegistry::shared().setter(page->className(), setter_);
  if (!setter) return false;
  (*setter)(*page, value, *this);
  return true;
}

bool Specifier::performAction() {
  auto page = target();
  if (!page || action_.empty()) return false;
  const auto* action = ClassRegistry::shared().action(page->className(), action_);
  if (!action) return false;
  (*action)(*page, this);
  return true;
}

}  // namespace orv

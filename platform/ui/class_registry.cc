#include "platform/ui/class_registry.h"

#include <map>
#include <mutex>

namespace orv {

namespace {

struct PageClass {
  ClassRegistry::PageFactory factory;
  PageMethods methods;
  std::string bundle_path;
};

template <class Fn>
const Fn* find_selector(const std::vector<std::pair<std::string, Fn>>& table,
                        std::string_view selector) {
  for (const auto& [name, fn] : table)
    if (name == selector) return &fn;
  return nullptr;
}

}  // namespace

struct ClassRegistry::Impl {
  mutable std::mutex mutex;
  // Classes are held by shared_ptr and never freed while the process runs: lookups hand out
  // pointers into them, which must survive a later re-registration or unregister().
  std::map<std::string, std::shared_ptr<const PageClass>, std::less<>> pages;
  std::map<std::string, std::shared_ptr<const CellFactory>, std::less<>> cells;
  std::vector<std::shared_ptr<const void>> retired;

  std::shared_ptr<const PageClass> page(std::string_view name) const {
    std::lock_guard lock(mutex);
    auto it = pages.find(name);
    return it == pages.end() ? nullptr : it->second;
  }
};

ClassRegistry::ClassRegistry() : impl_(std::make_unique<Impl>()) {}
ClassRegistry::~ClassRegistry() = default;

ClassRegistry& ClassRegistry::shared() {
  static ClassRegistry* registry = new ClassRegistry;  // lives as long as the plugins using it
  return *registry;
}

void ClassRegistry::registerPage(std::string name, PageFactory factory, PageMethods methods,
                                 std::string bundle_path) {
  auto cls = std::make_shared<const PageClass>(
      PageClass{std::move(factory), std::move(methods), std::move(bundle_path)});
  std::lock_guard lock(impl_->mutex);
  auto& slot = impl_->pages[std::move(name)];
  if (slot) impl_->retired.push_back(slot);
  slot = std::move(cls);
}

void ClassRegistry::registerCell(std::string name, CellFactory factory) {
  auto cls = std::make_shared<const CellFactory>(std::move(factory));
  std::lock_guard lock(impl_->mutex);
  auto& slot = impl_->cells[std::move(name)];
  if (slot) impl_->retired.push_back(slot);
  slot = std::move(cls);
}

void ClassRegistry::unregister(std::string_view name) {
  std::lock_guard lock(impl_->mutex);
  if (auto it = impl_->pages.find(name); it != impl_->pages.end()) {
    impl_->retired.push_back(it->second);
    impl_->pages.erase(it);
  }
  if (auto it = impl_->cells.find(name); it != impl_->cells.end()) {
    impl_->retired.push_back(it->second);
    impl_->cells.erase(it);
  }
}

bool ClassRegistry::hasPage(std::string_view name) const {
  return impl_->page(name) != nullptr;
}

bool ClassRegistry::hasCell(std::string_view name) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->cells.find(name) != impl_->cells.end();
}

std::shared_ptr<ListController> ClassRegistry::createPage(std::string_view name) const {
  auto cls = impl_->page(name);
  if (!cls || !cls->factory) return nullptr;
  auto page = cls->factory();
  if (!page) return nullptr;
  page->setBundlePath(cls->bundle_path);
  page->init();
  return page;
}

std::unique_ptr<TableCell> ClassRegistry::createCell(std::string_view name) const {
  std::shared_ptr<const CellFactory> factory;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->cells.find(name);
    if (it == impl_->cells.end()) return nullptr;
    factory = it->second;
  }
  return *factory ? (*factory)() : nullptr;
}

const PageMethods::Getter* ClassRegistry::getter(std::string_view page,
                                                 std::string_view selector) const {
  auto cls = impl_->page(page);
  return cls ? find_selector(cls->methods.getters, selector) : nullptr;
}

const PageMethods::Setter* ClassRegistry::setter(std::string_view page,
                                                 std::string_view selector) const {
  auto cls = impl_->page(page);
  return cls ? find_selector(cls->methods.setters, selector) : nullptr;
}

const PageMethods::Action* ClassRegistry::action(std::string_view page,
                                                 std::string_view selector) const {
  auto cls = impl_->page(page);
  return cls ? find_selector(cls->methods.actions, selector) : nullptr;
}

}  // namespace orv

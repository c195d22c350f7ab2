// The plugin's entry: loading OrvanePrefs.so registers its two page classes with the class
// registry, under the bundle directory their resources live in (the cell class registers itself
// beside its own code). Unloading the plugin takes the pages out again, so the registry never
// holds factories of code that is gone.
#include <memory>
#include <string>

#include "detail/detail_controller.h"
#include "list/root_list_controller.h"
#include "platform/ui/class_registry.h"

namespace {

constexpr const char* kBundlePath = "/Library/PreferenceBundles/OrvanePrefs.bundle";

template <class Page>
void register_page() {
  orv::ClassRegistry::shared().registerPage(
      std::string(Page::kClassName), [] { return std::make_shared<Page>(); }, Page::methods(),
      kBundlePath);
}

struct PageRegistration {
  PageRegistration() {
    register_page<OrvaneRootListController>();
    register_page<OrvaneDetailController>();
  }
  ~PageRegistration() {
    orv::ClassRegistry::shared().unregister(OrvaneRootListController::kClassName);
    orv::ClassRegistry::shared().unregister(OrvaneDetailController::kClassName);
  }
};

const PageRegistration registration;

}  // namespace

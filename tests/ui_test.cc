#include <string>
#include <vector>

#include "platform/ui/class_registry.h"
#include "platform/ui/list_controller.h"
#include "platform/ui/preference_row.h"
#include "tests/support/test_support.h"

namespace {

using orv::Value;

constexpr const char* kBundle = "/Library/PreferenceBundles/Test.bundle";

// A page built from its "Root" resource, registered for the whole test program. Getters,
// setters and actions bound by name are exercised by the plugin's pages.
class TestPage : public orv::ListController {
 public:
  std::string_view className() const override { return "TestPage"; }
  std::shared_ptr<orv::SpecifierList> specifiers() override {
    if (!_specifiers) _specifiers = loadSpecifiersFromPlistName("Root", shared_from_this());
    return _specifiers;
  }
};

const orv::Registrar kRegisterTestClasses([] {
  orv::ClassRegistry::shared().registerPage(
      "TestPage", [] { return std::make_shared<TestPage>(); }, orv::MethodTable<TestPage>().build(),
      kBundle);
});

std::shared_ptr<TestPage> make_page() {
  return std::static_pointer_cast<TestPage>(orv::ClassRegistry::shared().createPage("TestPage"));
}

// Writes the page resource <name>.plist with these items into the test bundle under root.
void write_resource(const orv::test::TempDir& root, std::string_view name, orv::Array items) {
  orv::test::write_xml_plist(root.real(std::string(kBundle) + "/" + std::string(name) + ".plist"),
                             Value(orv::Dictionary{{"items", std::move(items)}}));
}

Value entry(std::string_view cell, std::string label, orv::Dictionary more = {}) {
  more.set("cell", Value(std::string(cell)));
  more.set("label", Value(std::move(label)));
  return Value(std::move(more));
}

TEST(ListControllerTest, LoadsEveryCellKindAndNeverBreaksOnJunk) {
  orv::test::TempDir root(orv::test::TempDir::AsRoot::Yes);
  orv::Array items;
  for (int i = 0; i < 15; ++i)
    items.push_back(entry(orv::cell_type_name(i), "Row " + std::to_string(i)));
  items.push_back(entry("PSLinkCell", "Open", {{"detail", "TestPage"}}));
  write_resource(root, "Root", std::move(items));

  auto page = make_page();
  int redraws = 0;
  page->setReloadObserver([&](orv::ListController&) { ++redraws; });
  auto first = page->specifiers();
  page->reloadSpecifiers();
  EXPECT_EQ(redraws, 1);
  auto list = page->specifiers();
  EXPECT_NE(list, first);  // a fresh list, not the old one refilled
  ASSERT_EQ(list->size(), 16u);
  for (int i = 0; i < 15; ++i) {
    const auto& s = (*list)[static_cast<std::size_t>(i)];
    EXPECT_EQ(s->cellType(), i);
    EXPECT_EQ(s->propertyForKey("id"), Value("Row " + std::to_string(i)));
  }
  EXPECT_EQ((*list)[15]->detailControllerClass(), "TestPage");

  // A missing or broken file gives an empty list; junk entries are skipped or kept as text.
  EXPECT_TRUE(page->loadSpecifiersFromPlistName("Absent", page)->empty());
  orv::test::write_file(root.real(std::string(kBundle) + "/Broken.plist"), "<plist><dict>");
  EXPECT_TRUE(page->loadSpecifiersFromPlistName("Broken", page)->empty());

  write_resource(root, "Junk",
                 {"not an entry", 7,
                  orv::Dictionary{{"label", 5},
                                  {"cell", 6},
                                  {"get", true},
                                  {"detail", "NoSuchPage"},
                                  {"cellClass", "NoSuchCell"}},
                  entry("PSFancyCell", "Odd"), orv::Dictionary{}});
  list = page->loadSpecifiersFromPlistName("Junk", page);
  ASSERT_EQ(list->size(), 3u);
  const auto& numbers = (*list)[0];
  EXPECT_EQ(numbers->name(), std::nullopt);
  EXPECT_EQ(numbers->cellType(), orv::PSGroupCell);
  EXPECT_EQ(numbers->getter(), "");
  EXPECT_EQ(numbers->propertyForKey("label"), Value(5));  // the entry itself is kept as it was
  EXPECT_EQ((*list)[1]->cellType(), orv::PSStaticTextCell);
  EXPECT_EQ((*list)[1]->name(), "Odd");
  EXPECT_EQ((*list)[2]->cellType(), orv::PSGroupCell);
}

}  // namespace

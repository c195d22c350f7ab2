#include <string>
#include <vector>

#include "platform/ui/class_registry.h"
#include "platform/ui/list_controller.h"
#include "platform/ui/specifier.h"
#include "tests/support/test_support.h"

namespace {

using orv::Specifier;
using orv::Value;

constexpr const char* kBundle = "/Library/PreferenceBundles/Test.bundle";

// A small page with one switch binding and two actions, registered for the whole test program.
class TestPage : public orv::ListController {
 public:
  std::string_view className() const override { return "TestPage"; }
  void init() override { initialised = true; }
  std::shared_ptr<orv::SpecifierList> specifiers() override {
    if (!_specifiers) _specifiers = loadSpecifiersFromPlistName("Root", shared_from_this());
    ++builds;
    return _specifiers;
  }
  Value getFlag(Specifier&) { return Value(flag); }
  void setFlag(const Value& v, Specifier&) { flag = v.read_bool(); }
  void onRefresh() { ++refreshes; }

  bool initialised = false, flag = false;
  int builds = 0, refreshes = 0;
};

const orv::Registrar kRegisterTestClasses([] {
  auto& registry = orv::ClassRegistry::shared();
  registry.registerPage(
      "TestPage", [] { return std::make_shared<TestPage>(); },
      orv::MethodTable<TestPage>()
          .getter("getFlag:", &TestPage::getFlag)
          .setter("setFlag:specifier:", &TestPage::setFlag)
          .action("onRefresh", &TestPage::onRefresh)
          .build(),
      kBundle);
});

std::shared_ptr<TestPage> make_page() {
  return std::static_pointer_cast<TestPage>(orv::ClassRegistry::shared().createPage("TestPage"));
}

std::string plist_of_items(const std::string& items) {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>items</key><array>)" +
         items + "</array></dict></plist>\n";
}

std::string entry(const std::string& cell, const std::string& label,
                  const std::string& extra = "") {
  return "<dict><key>cell</key><string>" + cell + "</string><key>label</key><string>" + label +
         "</string>" + extra + "</dict>";
}

TEST(ListControllerTest, LoadsEveryCellKindFromTheResource) {
  orv::test::TempDir root(orv::test::TempDir::AsRoot::Yes);
  std::string items;
  for (int i = 0; i < 15; ++i) {
    std::string name(orv::cell_type_name(i));
    items += entry(name, "Row " + std::to_string(i));
  }
  items += entry("PSSwitchCell", "$SHOWSYS",
                 "<key>get</key><string>getFlag:</string>"
                 "<key>set</key><string>setFlag:specifier:</string>"
                 "<key>key</key><string>show_sys</string><key>default</key><false/>");
  items += entry("PSButtonCell", "$REFRESH", "<key>action</key><string>onRefresh</string>");
  items += entry("PSLinkCell", "Open", "<key>detail</key><string>TestPage</string>");
  orv::test::write_file(root.real(std::string(kBundle) + "/Root.plist"), plist_of_items(items));

  auto page = make_page();
  EXPECT_TRUE(page->initialised);
  int redraws = 0;
  page->setReloadObserver([&](orv::ListController&) { ++redraws; });
  auto first = page->specifiers();
  page->reloadSpecifiers();
  EXPECT_EQ(redraws, 1);
  auto list = page->specifiers();
  EXPECT_NE(list, first);  // a fresh list, not the old one refilled
  ASSERT_EQ(list->size(), 18u);
  for (int i = 0; i < 15; ++i) {
    const auto& s = (*list)[static_cast<std::size_t>(i)];
    EXPECT_EQ(s->cellType(), i);
    EXPECT_EQ(s->propertyForKey("id"), Value("Row " + std::to_string(i)));
  }
  const auto& sw = (*list)[15];
  EXPECT_TRUE(sw->performSetter(Value(true)));
  EXPECT_EQ(sw->performGetter(), Value(true));
  EXPECT_TRUE((*list)[16]->performAction());
  EXPECT_EQ(page->refreshes, 1);
  EXPECT_EQ((*list)[17]->detailControllerClass(), "TestPage");
}

TEST(ListControllerTest, MissingFileAndJunkItemsNeverBreakTheList) {
  orv::test::TempDir root(orv::test::TempDir::AsRoot::Yes);
  auto page = make_page();
  EXPECT_TRUE(page->loadSpecifiersFromPlistName("Absent", page)->empty());
  orv::test::write_file(root.real(std::string(kBundle) + "/Broken.plist"), "<plist><dict>");
  EXPECT_TRUE(page->loadSpecifiersFromPlistName("Broken", page)->empty());

  std::string items = "<string>not an entry</string><integer>7</integer>";
  items +=
      "<dict><key>label</key><integer>5</integer><key>cell</key><integer>6</integer>"
      "<key>get</key><true/><key>detail</key><string>NoSuchPage</string>"
      "<key>cellClass</key><string>NoSuchCell</string></dict>";
  items += entry("PSFancyCell", "Odd");
  items += "<dict/>";
  orv::test::write_file(root.real(std::string(kBundle) + "/Junk.plist"), plist_of_items(items));
  auto list = page->loadSpecifiersFromPlistName("Junk", page);
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

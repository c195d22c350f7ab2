#include "services/localization.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "platform/plist/plist_file.h"
#include "tests/prefs_test_helpers.h"

namespace {

using orv::Dictionary;
using orv::Value;
using orv::test::run_in_fresh_process;
using orv::test::ScopedLocale;
using orv::test::TempDir;

constexpr std::string_view kBundle = "/Library/PreferenceBundles/OrvanePrefs.bundle";

void write_tables(const TempDir& root) {
  orv::test::write_xml_plist(root.real(kBundle) / "en.lproj" / "Localizable.strings",
                             Value(Dictionary{{"$RUNNING", Value("running")}}));
  orv::test::write_xml_plist(root.real(kBundle) / "zh.lproj" / "Localizable.strings",
                             Value(Dictionary{{"$RUNNING", Value("运行中")}}));
}

// The bundle is held process-wide once found, so each scenario runs in a fresh process.
TEST(Localize, WithoutABundleShowsTheKeyAndFindsTheBundleLater) {
  TempDir root(TempDir::AsRoot::Yes);
  ScopedLocale env{{"LANG", "en_US.UTF-8"}};
  run_in_fresh_process([&] {
    EXPECT_EQ(localize("$RUNNING"), "$RUNNING");
    write_tables(root);
    EXPECT_EQ(localize("$RUNNING"), "running") << "a missing bundle is looked for again";
  });
}

TEST(Localize, TranslatesOnlyDollarKeysThatTheTablesHoldInTheLanguageOfEachCall) {
  TempDir root(TempDir::AsRoot::Yes);
  write_tables(root);
  ScopedLocale english{{"LANG", "en_US.UTF-8"}};
  run_in_fresh_process([&] {
    for (const char* unchanged : {"RUNNING", " $RUNNING", "", "$running", "$NOT_THERE"})
      EXPECT_EQ(localize(unchanged), unchanged);
    EXPECT_EQ(localize(std::string("$RUNNING")), "running");
    EXPECT_TRUE(localize(Value()).is_null());
    EXPECT_EQ(localize(Value("$RUNNING")), Value("running"));
    EXPECT_EQ(localize(Value(7)), Value(7)) << "not a string: unchanged";
    {
      ScopedLocale env{{"LANG", "zh_CN.UTF-8"}};
      EXPECT_EQ(localize("$RUNNING"), "运行中");
    }
    {
      ScopedLocale env{{"LANGUAGE", "zh-Hant"}, {"LC_ALL", "fr_FR"}};
      EXPECT_EQ(localize("$RUNNING"), "运行中");
    }
  });
}

// The keys the code shows to the user, and the labels of the list page's resource.
TEST(ShippedStringsTables, HoldEveryDollarKeyInBothLanguages) {
  const std::filesystem::path resources = std::filesystem::path(ORVANE_SOURCE_DIR) / "resources";
  for (const char* language : {"en", "zh"}) {
    orv::Result<Value> table = orv::read_plist_file(resources / (std::string(language) + ".lproj") /
                                                    "Localizable.strings");
    ASSERT_TRUE(table && table->is_dictionary()) << language;
    std::istringstream keys(
        "$STATUS $RUNNING $STOPPED $UNKNOWN $STOPKEY $STOPSYS $INPUTNAME $EXPSUC $EXPERR $IMPSUC "
        "$IMPERR $NOEXIST $SHOWSYS $REFRESH $EXPORT $IMPORT $OPTIONS $OPTIONS_FOOTER $DAEMONS "
        "$DAEMONS_FOOTER");
    for (std::string key; keys >> key;) {
      const Value& text = (*table)[key];
      EXPECT_TRUE(text.is_string() && !text.as_string().empty()) << language << " " << key;
    }
  }
}

}  // namespace

// The plugin's texts from its bundle: dollar keys translated by the strings tables and job
// descriptions from KnownDaemon.plist, in the language of the locale at each call. The bundle
// and the descriptions are held process-wide once found, so each scenario runs in a fresh process.
#include "services/localization.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>

#include "platform/plist/plist_file.h"
#include "services/descriptions.h"
#include "tests/support/test_support.h"

namespace orv::test {
namespace {

class BundleTexts : public ::testing::Test {
 protected:
  void write_tables() {
    write_xml_plist(bundle() / "en.lproj" / "Localizable.strings",
                    Value(Dictionary{{"$RUNNING", "running"}, {"$UNKNOWN", "Unknown job"}}));
    write_xml_plist(bundle() / "zh.lproj" / "Localizable.strings",
                    Value(Dictionary{{"$RUNNING", "运行中"}, {"$UNKNOWN", "未知任务"}}));
  }
  void write_descriptions(const Dictionary& table) {
    write_xml_plist(bundle() / "KnownDaemon.plist", Value(table));
  }
  std::filesystem::path bundle() const { return root.real(kPluginBundle); }

  TempDir root{TempDir::AsRoot::Yes};
  ScopedLocale english{{"LANG", "en_US.UTF-8"}};
};

Value pair(const char* english, const char* chinese) {
  return Value(Array{Value(english), Value(chinese)});
}

TEST_F(BundleTexts, LocalizeTranslatesOnlyDollarKeysTheTablesHoldInTheLanguageOfEachCall) {
  run_in_fresh_process([&] {
    EXPECT_EQ(localize("$RUNNING"), "$RUNNING");
    write_tables();
    EXPECT_EQ(localize("$RUNNING"), "running") << "a missing bundle is looked for again";
    for (const char* unchanged : {"RUNNING", " $RUNNING", "", "$running", "$NOT_THERE"})
      EXPECT_EQ(localize(unchanged), unchanged);
    EXPECT_TRUE(localize(Value()).is_null());
    EXPECT_EQ(localize(Value(7)), Value(7)) << "not a string: unchanged";
    ScopedLocale env{{"LANG", "zh_CN.UTF-8"}};
    EXPECT_EQ(localize("$RUNNING"), "运行中");
  });
}

// Well-formed entries, and malformed ones that show whatever usable text they hold.
TEST_F(BundleTexts, DescriptionsFromWellFormedAndMalformedEntries) {
  write_tables();
  auto simple = [](Value texts) { return Value(Dictionary{{"simple", std::move(texts)}}); };
  write_descriptions(Dictionary{
      {"both", Value(Dictionary{{"simple", pair("short", "短")}, {"detail", pair("long", "长")}})},
      {"short_only", simple(pair("only short", "仅短"))},
      {"not_a_dictionary", pair("a", "b")},
      {"no_simple", Value(Dictionary{{"detail", pair("long", "长")}})},
      {"one_element", simple(Value(Array{Value("english only")}))},
      {"non_string_element", simple(Value(Array{Value("english"), Value(5)}))},
      {"bare_string", simple(Value("plain"))},
      {"bad_detail", Value(Dictionary{{"simple", pair("short", "短")}, {"detail", Value(3)}})}});
  // Label, long form or not, the English and the Chinese text shown.
  const std::tuple<const char*, bool, const char*, const char*> cases[] = {
      {"both", false, "short", "短"},
      {"both", true, "long", "长"},
      {"short_only", true, "only short", "仅短"},
      {"absent", true, "Unknown job", "未知任务"},
      {"BOTH", false, "Unknown job", "未知任务"},
      {"not_a_dictionary", false, "Unknown job", "未知任务"},
      {"no_simple", false, "Unknown job", "未知任务"},  // never the long text
      {"no_simple", true, "long", "长"},
      {"one_element", false, "english only", "english only"},
      {"non_string_element", false, "english", "english"},
      {"bare_string", false, "plain", "plain"},
      {"bad_detail", true, "short", "短"}};
  run_in_fresh_process([&] {
    for (const char* locale : {"en_US.UTF-8", "C", "zh_CN.UTF-8", "zh-Hant"}) {
      ScopedLocale env{{"LANG", locale}};
      for (const auto& [label, long_form, english, chinese] : cases)
        EXPECT_EQ(get_desc(label, long_form), locale[0] == 'z' ? chinese : english)
            << locale << " " << label << " " << long_form;
    }
  });
}

TEST_F(BundleTexts, DescriptionsAreReadOnceAndNeverAgain) {
  write_tables();
  write_descriptions(Dictionary{{"job", Value(Dictionary{{"simple", pair("first", "first")}})}});
  run_in_fresh_process([&] {
    EXPECT_EQ(get_desc("job", false), "first");
    std::filesystem::remove(bundle() / "KnownDaemon.plist");
    EXPECT_EQ(get_desc("job", true), "first");
  });
  write_file(bundle() / "KnownDaemon.plist", "<plist><dict><key>");
  run_in_fresh_process([] { EXPECT_EQ(get_desc("job", false), "Unknown job"); });
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
}  // namespace orv::test

#include "services/descriptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/prefs_test_helpers.h"

namespace {

namespace fs = std::filesystem;
using orv::Array;
using orv::Dictionary;
using orv::Value;
using orv::test::run_in_fresh_process;
using orv::test::ScopedLocale;
using orv::test::TempDir;

constexpr std::string_view kBundle = "/Library/PreferenceBundles/OrvanePrefs.bundle";

Value pair(const char* english, const char* chinese) {
  return Value(Array{Value(english), Value(chinese)});
}

// The table is loaded once per process, so every scenario runs in a fresh process.
class Descriptions : public ::testing::Test {
 protected:
  void SetUp() override {
    orv::test::write_xml_plist(root.real(kBundle) / "en.lproj" / "Localizable.strings",
                               Value(Dictionary{{"$UNKNOWN", Value("Unknown job")}}));
    orv::test::write_xml_plist(root.real(kBundle) / "zh.lproj" / "Localizable.strings",
                               Value(Dictionary{{"$UNKNOWN", Value("未知任务")}}));
  }
  void write_descriptions(const Dictionary& table) {
    orv::test::write_xml_plist(root.real(kBundle) / "KnownDaemon.plist", Value(table));
  }
  TempDir root{TempDir::AsRoot::Yes};
};

// Well-formed entries, and malformed ones that show whatever usable text they hold.
TEST_F(Descriptions, TextsInTheLocaleLanguageFromWellFormedAndMalformedEntries) {
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
  run_in_fresh_process([] {
    for (const char* locale : {"en_US.UTF-8", "C", "zh_CN.UTF-8", "zh-Hant"}) {
      ScopedLocale env{{"LANG", locale}};
      const bool zh = locale[0] == 'z';
      auto text = [zh](const char* english, const char* chinese) { return zh ? chinese : english; };
      const std::string unknown = text("Unknown job", "未知任务");
      EXPECT_EQ(get_desc("both", false), text("short", "短")) << locale;
      EXPECT_EQ(get_desc("both", true), text("long", "长")) << locale;
      EXPECT_EQ(get_desc("short_only", true), text("only short", "仅短")) << locale;
      EXPECT_EQ(get_desc("absent", true), unknown) << locale;
      EXPECT_EQ(get_desc("BOTH", false), unknown) << locale;
      EXPECT_EQ(get_desc("not_a_dictionary", false), unknown) << locale;
      EXPECT_EQ(get_desc("no_simple", false), unknown) << "the list never shows the long text";
      EXPECT_EQ(get_desc("no_simple", true), text("long", "长")) << locale;
      EXPECT_EQ(get_desc("one_element", false), "english only") << locale;
      EXPECT_EQ(get_desc("non_string_element", false), "english") << locale;
      EXPECT_EQ(get_desc("bare_string", false), "plain") << locale;
      EXPECT_EQ(get_desc("bad_detail", true), text("short", "短")) << locale;
    }
  });
}

TEST_F(Descriptions, FileIsReadOnceAndNeverAgain) {
  write_descriptions(Dictionary{{"job", Value(Dictionary{{"simple", pair("first", "一")}})}});
  ScopedLocale env{{"LANG", "en_US"}};
  run_in_fresh_process([&] {
    EXPECT_EQ(get_desc("job", false), "first");
    write_descriptions(Dictionary{{"job", Value(Dictionary{{"simple", pair("second", "二")}})}});
    EXPECT_EQ(get_desc("job", false), "first");
    fs::remove(root.real(kBundle) / "KnownDaemon.plist");
    EXPECT_EQ(get_desc("job", true), "first");
  });
  run_in_fresh_process([&] {
    EXPECT_EQ(get_desc("job", false), "Unknown job") << "missing at the first call";
    write_descriptions(Dictionary{{"job", Value(Dictionary{{"simple", pair("late", "迟")}})}});
    EXPECT_EQ(get_desc("job", false), "Unknown job");
  });
  orv::test::write_file(root.real(kBundle) / "KnownDaemon.plist", "<plist><dict><key>");
  run_in_fresh_process([] { EXPECT_EQ(get_desc("job", false), "Unknown job"); });
}

}  // namespace

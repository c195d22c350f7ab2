#include "services/descriptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/plist/plist_file.h"
#include "tests/prefs_test_helpers.h"

namespace {

namespace fs = std::filesystem;
using orv::Array;
using orv::Dictionary;
using orv::Value;
using orv::test::run_in_fresh_process;
using orv::test::ScopedLocaleEnvironment;
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

TEST_F(Descriptions, ShortAndLongTextsInTheLocaleLanguage) {
  write_descriptions(Dictionary{
      {"job.both",
       Value(Dictionary{{"simple", pair("short", "短")}, {"detail", pair("long", "长")}})},
      {"job.short_only", Value(Dictionary{{"simple", pair("only short", "仅短")}})}});
  run_in_fresh_process([] {
    for (const char* locale : {"en_US.UTF-8", "ja_JP", "C"}) {
      ScopedLocaleEnvironment env({.lang = locale});
      EXPECT_EQ(get_desc("job.both", false), "short") << locale;
      EXPECT_EQ(get_desc("job.both", true), "long") << locale;
      EXPECT_EQ(get_desc("job.short_only", true), "only short") << locale;
      EXPECT_EQ(get_desc("job.absent", false), "Unknown job") << locale;
      EXPECT_EQ(get_desc("JOB.BOTH", false), "Unknown job") << locale;
    }
    for (const char* locale : {"zh_CN.UTF-8", "zh_TW", "zh-Hant"}) {
      ScopedLocaleEnvironment env({.lang = locale});
      EXPECT_EQ(get_desc("job.both", false), "短") << locale;
      EXPECT_EQ(get_desc("job.both", true), "长") << locale;
      EXPECT_EQ(get_desc("job.short_only", true), "仅短") << locale;
      EXPECT_EQ(get_desc("job.absent", true), "未知任务") << locale;
    }
  });
}

TEST_F(Descriptions, FileIsReadOnceAndNeverAgain) {
  write_descriptions(Dictionary{{"job", Value(Dictionary{{"simple", pair("first", "一")}})}});
  ScopedLocaleEnvironment env({.lang = "en_US"});
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

TEST_F(Descriptions, MalformedEntriesUseWhatIsThere) {
  write_descriptions(Dictionary{
      {"not_a_dictionary", Value(Array{Value("a"), Value("b")})},
      {"no_simple", Value(Dictionary{{"detail", pair("long", "长")}})},
      {"one_element", Value(Dictionary{{"simple", Value(Array{Value("english only")})}})},
      {"empty_array", Value(Dictionary{{"simple", Value(Array{})}})},
      {"non_string_element",
       Value(Dictionary{{"simple", Value(Array{Value("english"), Value(5)})}})},
      {"bare_string", Value(Dictionary{{"simple", Value("plain")}})},
      {"numbers_only", Value(Dictionary{{"simple", Value(Array{Value(1), Value(2)})}})},
      {"bad_detail",
       Value(Dictionary{{"simple", pair("short", "短")}, {"detail", Value(Dictionary())}})},
      {"three_elements",
       Value(Dictionary{{"simple", Value(Array{Value("en"), Value("zh"), Value("extra")})}})}});
  run_in_fresh_process([] {
    for (const char* locale : {"en_US", "zh_CN"}) {
      ScopedLocaleEnvironment env({.lang = locale});
      const bool zh = locale[0] == 'z';
      const std::string unknown = zh ? "未知任务" : "Unknown job";
      EXPECT_EQ(get_desc("not_a_dictionary", false), unknown);
      EXPECT_EQ(get_desc("no_simple", false), unknown) << "the list never shows the long text";
      EXPECT_EQ(get_desc("no_simple", true), zh ? "长" : "long");
      EXPECT_EQ(get_desc("one_element", false), "english only");
      EXPECT_EQ(get_desc("empty_array", true), unknown);
      EXPECT_EQ(get_desc("non_string_element", false), "english");
      EXPECT_EQ(get_desc("bare_string", false), "plain");
      EXPECT_EQ(get_desc("numbers_only", false), unknown);
      EXPECT_EQ(get_desc("bad_detail", true), zh ? "短" : "short");
      EXPECT_EQ(get_desc("three_elements", false), zh ? "zh" : "en");
    }
  });
}

TEST(ShippedDescriptions, AreWellFormedAndCoverTheDemoJobs) {
  std::optional<Value> table =
      orv::read_plist_file(fs::path(ORVANE_SOURCE_DIR) / "resources" / "KnownDaemon.plist");
  ASSERT_TRUE(table && table->is_dictionary());
  auto is_pair_of_texts = [](const Value& texts) {
    return texts.is_array() && texts.as_array().size() == 2 && texts.as_array()[0].is_string() &&
           texts.as_array()[1].is_string() && !texts.as_array()[0].as_string().empty() &&
           !texts.as_array()[1].as_string().empty();
  };
  std::size_t without_detail = 0;
  for (const auto& [label, entry] : table->as_dictionary()) {
    EXPECT_TRUE(is_pair_of_texts(entry["simple"])) << label;
    if (entry["detail"].is_null())
      ++without_detail;
    else
      EXPECT_TRUE(is_pair_of_texts(entry["detail"])) << label;
  }
  EXPECT_GE(without_detail, 2u);
  for (const char* label :
       {"com.apple.SpringBoard", "com.apple.backboardd", "com.apple.mediaserverd",
        "com.apple.locationd", "com.apple.searchd", "com.example.com.apple.helper",
        "org.example.COM.APPLE.mirror", "org.example.backup", "org.example.webcache",
        "org.example.indexer", "org.example.heartbeat"})
    EXPECT_TRUE((*table)[label].is_dictionary()) << label;
  EXPECT_TRUE((*table)["org.example.undocumented"].is_null());
}

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/plist/binary_plist.h"
#include "platform/prefs/bundle.h"
#include "platform/prefs/locale.h"
#include "tests/prefs_test_helpers.h"

namespace {

using orv::Dictionary;
using orv::NSBundle;
using orv::NSLocale;
using orv::Value;
using orv::test::ScopedLocaleEnvironment;
using orv::test::TempDir;
using Strings = std::vector<std::string>;

TEST(PreferredLanguages, FollowTheUsualPrecedenceOfLocaleVariables) {
  {
    ScopedLocaleEnvironment env({.language = "fr:zh_TW:fr_CA",
                                 .lc_all = "de_DE.UTF-8",
                                 .lc_messages = "ja_JP",
                                 .lang = "ko_KR"});
    EXPECT_EQ(orv::preferred_languages(), (Strings{"fr", "zh", "de"}));
    EXPECT_EQ(NSLocale::currentLocale().languageCode(), "fr");
  }
  {
    ScopedLocaleEnvironment env({.lc_messages = "ja_JP.eucJP", .lang = "ko_KR"});
    EXPECT_EQ(orv::preferred_languages(), (Strings{"ja"}));
    EXPECT_EQ(NSLocale::currentLocale().languageCode(), "ja");
  }
  {
    ScopedLocaleEnvironment env({.language = "", .lc_all = "", .lang = "zh_CN.UTF-8"});
    EXPECT_EQ(orv::preferred_languages(), (Strings{"zh"}));
    EXPECT_EQ(NSLocale::currentLocale().languageCode(), "zh");
  }
  {
    ScopedLocaleEnvironment env({});
    EXPECT_TRUE(orv::preferred_languages().empty());
    EXPECT_EQ(NSLocale::currentLocale().languageCode(), "en");
  }
}

TEST(PreferredLanguages, ReduceLocaleNamesToTheirLanguage) {
  for (const char* name : {"zh_CN.UTF-8", "zh_TW", "zh-Hant", "zh", "ZH_cn", "zh@stroke"}) {
    ScopedLocaleEnvironment env({.lang = name});
    EXPECT_EQ(NSLocale::currentLocale().languageCode(), "zh") << name;
  }
  for (const char* name : {"C", "POSIX", "C.UTF-8"}) {
    ScopedLocaleEnvironment env({.lc_all = name});
    EXPECT_EQ(NSLocale::currentLocale().languageCode(), "en") << name;
    EXPECT_EQ(orv::preferred_languages(), (Strings{"en"})) << name;
  }
  EXPECT_EQ(orv::language_of_locale_name(""), "");
  EXPECT_EQ(orv::language_of_locale_name("_US"), "");
  EXPECT_EQ(orv::language_of_locale_name("e1_US"), "");
  EXPECT_EQ(orv::language_of_locale_name("averyveryverylonglanguagename"), "");
  {
    ScopedLocaleEnvironment env({.language = "::12:", .lang = "pt_BR"});
    EXPECT_EQ(NSLocale::currentLocale().languageCode(), "pt") << "unusable entries are skipped";
  }
}

class BundleStrings : public ::testing::Test {
 protected:
  void SetUp() override {
    write_table("en", Dictionary{{"$HELLO", Value("Hello")}, {"$ONLY_EN", Value("English")}});
    write_table("zh-Hans", Dictionary{{"$HELLO", Value("你好")}});
    orv::test::write_xml_plist(root.real(kBundle) / "Info.plist",
                               Value(Dictionary{{"CFBundleDevelopmentRegion", Value("en")}}));
  }
  void write_table(const std::string& language, const Dictionary& strings,
                   const std::string& table = "Localizable") {
    orv::test::write_xml_plist(root.real(kBundle) / (language + ".lproj") / (table + ".strings"),
                               Value(strings));
  }
  static constexpr std::string_view kBundle = "/Library/PreferenceBundles/Test.bundle";
  TempDir root{TempDir::AsRoot::Yes};
};

TEST_F(BundleStrings, ExistsOnlyForADirectory) {
  EXPECT_EQ(NSBundle::bundleWithPath("/Library/PreferenceBundles/Missing.bundle"), nullptr);
  orv::test::write_file(root.real("/plain-file"), "x");
  EXPECT_EQ(NSBundle::bundleWithPath("/plain-file"), nullptr);
  auto bundle = NSBundle::bundleWithPath(kBundle);
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->logical_path(), kBundle);
  EXPECT_EQ(bundle->real_path(), root.real(kBundle));
  EXPECT_EQ(bundle->infoDictionary()["CFBundleDevelopmentRegion"], Value("en"));
}

TEST_F(BundleStrings, ChoosesTheLanguageOnEveryLookup) {
  auto bundle = NSBundle::bundleWithPath(kBundle);
  ASSERT_NE(bundle, nullptr);
  {
    ScopedLocaleEnvironment env({.lang = "zh_CN.UTF-8"});
    EXPECT_EQ(bundle->localizedStringForKey("$HELLO", "fallback"), "你好");
    EXPECT_EQ(bundle->localizedStringForKey("$ONLY_EN", "fallback"), "fallback")
        << "no mixing of languages within one lookup";
  }
  {
    ScopedLocaleEnvironment env({.language = "ja:en", .lang = "zh_CN"});
    EXPECT_EQ(bundle->localizedStringForKey("$HELLO", ""), "Hello");
  }
  {
    ScopedLocaleEnvironment env({.lang = "ja_JP"});
    EXPECT_EQ(bundle->chosen_language(), "en") << "development region when nothing matches";
    EXPECT_EQ(bundle->localizedStringForKey("$hello", "$hello"), "$hello") << "case-sensitive";
    EXPECT_EQ(bundle->localizedStringForKey("$MISSING", ""), "$MISSING");
  }
}

TEST_F(BundleStrings, DevelopmentRegionDecidesWhenNoPreferenceMatches) {
  orv::test::write_xml_plist(root.real(kBundle) / "Info.plist",
                             Value(Dictionary{{"CFBundleDevelopmentRegion", Value("zh_CN")}}));
  ScopedLocaleEnvironment env({.lang = "ja_JP"});
  auto bundle = NSBundle::bundleWithPath(kBundle);
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->localizedStringForKey("$HELLO", ""), "你好");

  std::filesystem::remove(root.real(kBundle) / "Info.plist");
  auto without_info = NSBundle::bundleWithPath(kBundle);
  EXPECT_TRUE(without_info->infoDictionary().is_null());
  EXPECT_EQ(without_info->localizedStringForKey("$HELLO", ""), "Hello");
}

TEST_F(BundleStrings, ReadsNamedAndBinaryTablesOnceEach) {
  std::optional<orv::Bytes> binary =
      orv::encode_binary_plist(Value(Dictionary{{"$SAVE", Value("Save")}}));
  ASSERT_TRUE(binary);
  orv::test::write_file(root.real(kBundle) / "en.lproj" / "Buttons.strings",
                        std::string(binary->begin(), binary->end()));
  ScopedLocaleEnvironment env({.lang = "en_GB"});
  auto bundle = NSBundle::bundleWithPath(kBundle);
  EXPECT_EQ(bundle->localizedStringForKey("$SAVE", "", "Buttons"), "Save");
  EXPECT_EQ(bundle->localizedStringForKey("$SAVE", "-"), "-") << "default table lacks it";

  write_table("en", Dictionary{{"$HELLO", Value("Changed")}});
  EXPECT_EQ(bundle->localizedStringForKey("$HELLO", ""), "Hello") << "loaded table is kept";
  orv::test::write_file(root.real(kBundle) / "en.lproj" / "Broken.strings", "not a plist");
  EXPECT_EQ(bundle->localizedStringForKey("$HELLO", "", "Broken"), "$HELLO");
}

}  // namespace

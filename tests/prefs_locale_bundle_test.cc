#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fs/root.h"
#include "platform/plist/binary_plist.h"
#include "platform/prefs/bundle.h"
#include "platform/prefs/locale.h"
#include "tests/support/test_support.h"

namespace {

using orv::Dictionary;
using orv::NSBundle;
using orv::Value;
using orv::test::ScopedLocale;
using orv::test::TempDir;
using Strings = std::vector<std::string>;

std::string language_now() {
  return orv::NSLocale::currentLocale().languageCode();
}

TEST(PreferredLanguages, FollowTheUsualPrecedenceOfLocaleVariables) {
  {
    ScopedLocale env{{"LANGUAGE", "fr:zh_TW::12:fr_CA"},
                     {"LC_ALL", "de_DE.UTF-8"},
                     {"LC_MESSAGES", "ja_JP"},
                     {"LANG", "ko_KR"}};
    EXPECT_EQ(orv::preferred_languages(), (Strings{"fr", "zh", "de"}));
    EXPECT_EQ(language_now(), "fr");
  }
  {
    // Only the exact names count, not longer or shorter ones beside them.
    ScopedLocale env{{"LANGUAGES", "zh"},
                     {"LANGX", "zh_CN"},
                     {"LC_ALL_", "zh"},
                     {"LC_MESSAGE", "zh"},
                     {"LANG", "fr_FR"}};
    EXPECT_EQ(orv::preferred_languages(), (Strings{"fr"}));
  }
  // The C locale is English whatever comes after it; with nothing set, English too.
  for (const char* name : {"C", "C.UTF-8"}) {
    ScopedLocale env{{"LC_ALL", name}, {"LANG", "zh_CN"}};
    EXPECT_EQ(orv::preferred_languages(), (Strings{"en"})) << name;
  }
  const std::pair<const char*, const char*> languages[] = {
      {"C", "en"}, {nullptr, "en"}, {"zh-Hant", "zh"}, {"ZH_cn", "zh"}, {"zh@stroke", "zh"}};
  for (const auto& [lang, language] : languages) {
    ScopedLocale env{{"LANG", lang}};
    EXPECT_EQ(language_now(), language) << (lang ? lang : "unset");
    EXPECT_EQ(orv::preferred_languages().size(), lang ? 1u : 0u);
  }
  for (const char* junk : {"", "_US", "e1_US", "averyveryverylonglanguagename"})
    EXPECT_EQ(orv::language_of_locale_name(junk), "") << junk;
}

TEST(RootLayout, PlacesTheBundlesAndTheRunDirectoryApartOnlyWhereItNamesThem) {
  const orv::RootLayout package{"/var/lib/o", "/usr/lib/o", "/run/o"};
  EXPECT_EQ(orv::real_path("/Library/PreferenceBundles/X.bundle/Info.plist", package),
            "/usr/lib/o/X.bundle/Info.plist");
  EXPECT_EQ(orv::real_path("/var/run/orvane/msgport.orvane.sock", package),
            "/run/o/msgport.orvane.sock");
  EXPECT_EQ(orv::real_path("/Library/PreferenceBundlesX/a", package),
            "/var/lib/o/Library/PreferenceBundlesX/a");
  EXPECT_EQ(orv::real_path("var/mobile/Media/x", package), "/var/lib/o/var/mobile/Media/x");
  const orv::RootLayout one_root{"/r", {}, {}};
  EXPECT_EQ(orv::real_path("/Library/PreferenceBundles/X.bundle", one_root),
            "/r/Library/PreferenceBundles/X.bundle");
  EXPECT_EQ(orv::real_path("/var/run/orvane/s.sock", one_root), "/r/var/run/orvane/s.sock");
}

class BundleStrings : public ::testing::Test {
 protected:
  void SetUp() override {
    write_table("en", {{"$HELLO", Value("Hello")}, {"$ONLY_EN", Value("English")}});
    write_table("zh-Hans", {{"$HELLO", Value("你好")}});
    write_development_region("en");
  }
  void write_table(const std::string& language, const Dictionary& strings) {
    orv::test::write_xml_plist(root.real(kBundle) / (language + ".lproj") / "Localizable.strings",
                               Value(strings));
  }
  void write_development_region(const char* region) {
    orv::test::write_xml_plist(root.real(kBundle) / "Info.plist",
                               Value(Dictionary{{"CFBundleDevelopmentRegion", Value(region)}}));
  }
  static constexpr std::string_view kBundle = "/Library/PreferenceBundles/Test.bundle";
  TempDir root{TempDir::AsRoot::Yes};
};

TEST_F(BundleStrings, ChoosesAShippedLanguageOnEveryLookup) {
  EXPECT_EQ(NSBundle::bundleWithPath("/Library/PreferenceBundles/Missing.bundle"), nullptr);
  auto bundle = NSBundle::bundleWithPath(kBundle);
  ASSERT_NE(bundle, nullptr);
  {
    ScopedLocale env{{"LANG", "zh_CN.UTF-8"}};
    EXPECT_EQ(bundle->localizedStringForKey("$HELLO", "fallback"), "你好");
    EXPECT_EQ(bundle->localizedStringForKey("$ONLY_EN", "fallback"), "fallback");
  }
  {
    ScopedLocale env{{"LANGUAGE", "ja:en"}, {"LANG", "zh_CN"}};
    EXPECT_EQ(bundle->localizedStringForKey("$HELLO", ""), "Hello");
  }
  ScopedLocale env{{"LANG", "ja_JP"}};
  EXPECT_EQ(bundle->localizedStringForKey("$HELLO", ""), "Hello") << "development region";
  EXPECT_EQ(bundle->localizedStringForKey("$hello", "$hello"), "$hello") << "case-sensitive";
  EXPECT_EQ(bundle->localizedStringForKey("$MISSING", ""), "$MISSING");

  write_development_region("zh_CN");
  EXPECT_EQ(NSBundle::bundleWithPath(kBundle)->localizedStringForKey("$HELLO", ""), "你好");
  std::filesystem::remove(root.real(kBundle) / "Info.plist");
  EXPECT_EQ(NSBundle::bundleWithPath(kBundle)->localizedStringForKey("$HELLO", ""), "Hello");
}

TEST_F(BundleStrings, ReadsNamedBinaryAndBrokenTablesOnceEach) {
  std::optional<orv::Bytes> binary =
      orv::encode_binary_plist(Value(Dictionary{{"$SAVE", Value("Save")}}));
  ASSERT_TRUE(binary);
  orv::test::write_file(root.real(kBundle) / "en.lproj" / "Buttons.strings",
                        std::string(binary->begin(), binary->end()));
  orv::test::write_file(root.real(kBundle) / "en.lproj" / "Broken.strings", "not a plist");
  ScopedLocale env{{"LANG", "en_GB"}};
  auto bundle = NSBundle::bundleWithPath(kBundle);
  EXPECT_EQ(bundle->localizedStringForKey("$SAVE", "", "Buttons"), "Save");
  EXPECT_EQ(bundle->localizedStringForKey("$SAVE", "-"), "-");
  EXPECT_EQ(bundle->localizedStringForKey("$HELLO", "", "Broken"), "$HELLO");
  write_table("en", {{"$HELLO", Value("Changed")}});
  EXPECT_EQ(bundle->localizedStringForKey("$HELLO", ""), "Hello") << "a loaded table is kept";
}

}  // namespace

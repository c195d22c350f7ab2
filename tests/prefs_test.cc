// The preferences stand-ins: user defaults on disk shared with other writers and processes,
// the preferred languages from the locale variables, the root layout, and bundle strings.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs/regular_file.h"
#include "platform/fs/root.h"
#include "platform/plist/binary_plist.h"
#include "platform/plist/plist_file.h"
#include "platform/prefs/bundle.h"
#include "platform/prefs/locale.h"
#include "platform/prefs/user_defaults.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using orv::Dictionary;
using orv::NSBundle;
using orv::NSUserDefaults;
using orv::Value;
using orv::test::ScopedLocale;
using orv::test::TempDir;
using Strings = std::vector<std::string>;

std::vector<fs::path> files_named_like(const fs::path& dir, std::string_view fragment) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().filename().string().find(fragment) != std::string::npos)
      found.push_back(entry.path());
  return found;
}

Dictionary dictionary_in_file(const fs::path& file) {
  orv::Result<Value> root = orv::read_plist_file(file);
  EXPECT_TRUE(root && root->is_dictionary()) << file << " does not read as a dictionary";
  return root && root->is_dictionary() ? root->as_dictionary() : Dictionary();
}

TEST(UserDefaults, WritesThroughAndSeesOtherWriters) {
  TempDir dir;
  const fs::path file = dir.path() / "Library" / "Preferences" / "settings.plist";
  NSUserDefaults first(file);
  NSUserDefaults second(file);
  EXPECT_TRUE(first.objectForKey("a").is_null());
  EXPECT_TRUE(first.setObject(Value(false), "a"));
  EXPECT_EQ(orv::test::read_file(file).rfind("bplist00", 0), 0u) << "directories made, binary";
  EXPECT_EQ(second.objectForKey("a"), Value(false));
  // A text that XML cannot hold stops no later change.
  EXPECT_TRUE(second.setObject(Value("com.example.\x1b[2J"), "b"));
  EXPECT_TRUE(first.setObject(Value(), "a"));
  EXPECT_EQ(dictionary_in_file(file), (Dictionary{{"b", Value("com.example.\x1b[2J")}}));

  // A file replaced behind the cache's back is read anew.
  orv::test::write_xml_plist(file, Value(Dictionary{{"c", Value(3)}}));
  EXPECT_EQ(second.objectForKey("c"), Value(3));
  EXPECT_TRUE(second.objectForKey("b").is_null());
}

TEST(UserDefaults, AFileItCannotReadIsLeftAloneAndFailedWritesAreReported) {
  TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);
  fs::create_symlink("/dev/zero", dir.path() / "zero.plist");
  ASSERT_EQ(::mkfifo((dir.path() / "fifo.plist").c_str(), 0666), 0);
  orv::test::write_file(dir.path() / "huge.plist", "");
  fs::resize_file(dir.path() / "huge.plist", orv::kMaxReadFileBytes + 1);
  orv::test::write_xml_plist(dir.path() / "private.plist", Value(Dictionary{{"x", Value(1)}}));
  fs::permissions(dir.path() / "private.plist", fs::perms::owner_read | fs::perms::owner_write);
  const fs::path unwritable_dir = dir.path() / "unwritable";
  orv::test::write_xml_plist(unwritable_dir / "readable.plist", Value(Dictionary{{"x", Value(1)}}));

  orv::test::run_in_fresh_process([&] {
    ::alarm(10);  // a blocking read shows as a failure, not a hang
    // As a user other than the files' owner (root), so that permissions apply.
    ASSERT_TRUE(::setgid(65534) == 0 && ::setuid(65534) == 0);
    for (const char* name : {"private.plist", "huge.plist", "zero.plist", "fifo.plist"}) {
      NSUserDefaults defaults(dir.path() / name);
      EXPECT_TRUE(defaults.objectForKey("x").is_null()) << name;
      orv::Status written = defaults.setObject(Value(2), "x");
      ASSERT_FALSE(written) << name;
      EXPECT_NE(written.error().message.find("cannot be read"), std::string::npos) << name;
      EXPECT_EQ(defaults.objectForKey("x"), Value(2)) << "the change is kept in the process";
      EXPECT_FALSE(defaults.saveStatus()) << name;
    }
    // A folder it may not write in: the read works, the write is refused and reported.
    NSUserDefaults defaults(unwritable_dir / "readable.plist");
    EXPECT_EQ(defaults.objectForKey("x"), Value(1));
    EXPECT_FALSE(defaults.setObject(Value(2), "x"));
    EXPECT_FALSE(defaults.saveStatus());
  });
  EXPECT_TRUE(files_named_like(dir.path(), ".corrupt-").empty());
  EXPECT_EQ(dictionary_in_file(dir.path() / "private.plist"), (Dictionary{{"x", Value(1)}}));
  EXPECT_TRUE(fs::is_fifo(dir.path() / "fifo.plist"));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "zero.plist"));
  EXPECT_EQ(fs::file_size(dir.path() / "huge.plist"), orv::kMaxReadFileBytes + 1);
}

TEST(UserDefaults, BrokenFileIsMovedAsideIntactAndDefaultsStartEmpty) {
  for (std::string broken : {std::string("<plist><dict><key>x"), std::string("\x01\x02garbage"),
                             std::string("<?xml version=\"1.0\"?><plist><array/></plist>")}) {
    TempDir dir;
    const fs::path file = dir.path() / "settings.plist";
    orv::test::write_file(file, broken);
    NSUserDefaults defaults(file);
    EXPECT_TRUE(defaults.objectForKey("x").is_null());
    std::vector<fs::path> aside = files_named_like(dir.path(), ".corrupt-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(orv::test::read_file(aside[0]), broken);

    defaults.setObject(Value(true), "x");
    EXPECT_EQ(dictionary_in_file(file), (Dictionary{{"x", Value(true)}}));
    EXPECT_EQ(orv::test::read_file(aside[0]), broken) << "the copy aside is never touched";
  }
}

// Writes "counter" = from, from + 1, ... for ever; meant to be killed.
[[noreturn]] void write_counter_forever(const fs::path& file, std::int64_t from) {
  NSUserDefaults defaults(file);
  for (std::int64_t i = from;; ++i)
    defaults.setObject(Value(i), "counter");
}

TEST(UserDefaultsAcrossProcesses, KilledWriterLeavesAWholeFile) {
  TempDir dir;
  const fs::path file = dir.path() / "settings.plist";
  NSUserDefaults(file).setObject(Value("kept"), "other");
  for (std::int64_t round = 1; round <= 15; ++round) {
    const std::int64_t from = round * 1'000'000;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) write_counter_forever(file, from);
    // Killed once its first write has landed, somewhere in the writes after it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (dictionary_in_file(file).get("counter").read_int64() < from &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    const Dictionary settings = dictionary_in_file(file);
    EXPECT_EQ(settings.get("other"), Value("kept"));
    EXPECT_GE(settings.get("counter").read_int64(), from) << "round " << round;
    EXPECT_TRUE(files_named_like(dir.path(), ".corrupt-").empty());
  }
}

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

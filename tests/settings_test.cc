#include "services/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/plist/plist_file.h"
#include "tests/prefs_test_helpers.h"

namespace {

using orv::Dictionary;
using orv::Value;
using orv::test::TempDir;

// The defaults object is obtained once per process, so one root serves the whole program;
// each test starts from a fresh install by removing the file.
TempDir* shared_root = nullptr;

class SharedRootEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { shared_root = new TempDir(TempDir::AsRoot::Yes); }
  void TearDown() override { delete shared_root; }
};
const auto* const registered = ::testing::AddGlobalTestEnvironment(new SharedRootEnvironment);

class Settings : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::remove(file()); }
  static std::filesystem::path file() {
    return shared_root->real("/var/mobile/Library/Preferences/orvane.settings.plist");
  }
  static Value stored() { return orv::read_plist_file(file()).value_or(Value()); }
};

TEST_F(Settings, FirstReadGivesTheDefaultAndStoresAnEmptyDictionary) {
  EXPECT_EQ(getPref("show_sys", Value(false)), Value(false));
  EXPECT_EQ(getPref("usr_pol", Value(Dictionary())), Value(Dictionary()));
  EXPECT_EQ(stored(), Value(Dictionary{{"velnor.orvane", Value(Dictionary())}}));
}

TEST_F(Settings, WritesKeepEveryOtherKeyAndStoredFalseIsAValue) {
  orv::test::write_xml_plist(file(), Value(Dictionary{{"someone.else", Value("theirs")}}));
  const Value policy(Dictionary{{"com.example.a", Value(false)}});
  setPref("usr_pol", policy);
  setPref("show_sys", Value(true));
  setPref("show_sys", Value(false));
  EXPECT_EQ(getPref("show_sys", Value(true)), Value(false));
  EXPECT_EQ(
      stored(),
      Value(Dictionary{
          {"someone.else", Value("theirs")},
          {"velnor.orvane", Value(Dictionary{{"usr_pol", policy}, {"show_sys", Value(false)}})}}));
  setPref("usr_pol", Value());
  EXPECT_TRUE(getPref("usr_pol", Value()).is_null()) << "null removes the key";
}

TEST_F(Settings, ReadsOtherWritersAndReplacesANonDictionaryEntry) {
  orv::test::write_xml_plist(
      file(), Value(Dictionary{{"velnor.orvane", Value(Dictionary{{"show_sys", Value(true)}})}}));
  EXPECT_EQ(getPref("show_sys", Value(false)), Value(true));

  orv::test::write_xml_plist(file(), Value(Dictionary{{"velnor.orvane", Value("garbage")}}));
  EXPECT_EQ(getPref("show_sys", Value(false)), Value(false));
  setPref("show_sys", Value(true));
  EXPECT_EQ(stored()["velnor.orvane"], Value(Dictionary{{"show_sys", Value(true)}}));
}

}  // namespace

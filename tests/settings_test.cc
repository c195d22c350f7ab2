// The plugin's settings: one dictionary under its own key in the host's defaults file, shared
// with other writers.
#include "services/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/plist/plist_file.h"
#include "tests/support/test_support.h"

namespace orv::test {
namespace {

class Settings : public ::testing::Test {
 protected:
  // The defaults object binds to the root in force on first use, so one root serves the whole
  // program; each test starts from a fresh install by removing the file.
  void SetUp() override { std::filesystem::remove(file()); }
  static std::filesystem::path file() {
    static const TempDir root(TempDir::AsRoot::Yes);
    return root.real(kSettingsFile);
  }
  static Value stored() { return read_plist_file(file()).value_or(Value()); }
};

// A first read gives the default and stores an empty dictionary; writes keep the other keys; a
// value from another writer is read, and an entry that is not a dictionary is replaced.
TEST_F(Settings, WritesKeepOtherKeysReadOtherWritersAndReplaceANonDictionaryEntry) {
  EXPECT_EQ(getPref("show_sys", Value(false)), Value(false));
  EXPECT_EQ(stored(), Value(Dictionary{{"velnor.orvane", Value(Dictionary())}}));

  write_xml_plist(file(), Value(Dictionary{{"someone.else", Value("theirs")}}));
  const Value policy(Dictionary{{"com.example.a", Value(false)}});
  setPref("usr_pol", policy);
  setPref("show_sys", Value(true));
  setPref("show_sys", Value(false));
  EXPECT_EQ(getPref("show_sys", Value(true)), Value(false));
  EXPECT_EQ(stored(),
            Value(Dictionary{
                {"someone.else", Value("theirs")},
                {"velnor.orvane", Value(Dictionary{{"usr_pol", policy}, {"show_sys", false}})}}));
  setPref("usr_pol", Value());
  EXPECT_TRUE(getPref("usr_pol", Value()).is_null()) << "null removes the key";

  write_xml_plist(file(), Value(Dictionary{{"velnor.orvane", Dictionary{{"show_sys", true}}}}));
  EXPECT_EQ(getPref("show_sys", Value(false)), Value(true));

  write_xml_plist(file(), Value(Dictionary{{"velnor.orvane", Value("garbage")}}));
  EXPECT_EQ(getPref("show_sys", Value(false)), Value(false));
  setPref("show_sys", Value(true));
  EXPECT_EQ(stored()["velnor.orvane"], Value(Dictionary{{"show_sys", Value(true)}}));
}

}  // namespace
}  // namespace orv::test

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/plist/plist_file.h"
#include "platform/prefs/user_defaults.h"
#include "tests/prefs_test_helpers.h"

namespace {

namespace fs = std::filesystem;
using orv::Dictionary;
using orv::NSUserDefaults;
using orv::Value;
using orv::test::TempDir;

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
  first.setObject(Value(false), "a");
  EXPECT_EQ(orv::test::read_file(file).rfind("<?xml", 0), 0u) << "directories made, XML";
  EXPECT_EQ(second.objectForKey("a"), Value(false));
  second.setObject(Value("two"), "b");
  first.setObject(Value(), "a");
  EXPECT_EQ(dictionary_in_file(file), (Dictionary{{"b", Value("two")}}));

  // A file replaced behind the cache's back is read anew.
  orv::test::write_xml_plist(file, Value(Dictionary{{"c", Value(3)}}));
  EXPECT_EQ(second.objectForKey("c"), Value(3));
  EXPECT_TRUE(second.objectForKey("b").is_null());
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

// Writes "counter" = 1, 2, 3 ... for ever; meant to be killed.
[[noreturn]] void write_counter_forever(const fs::path& file) {
  NSUserDefaults defaults(file);
  for (int i = 1;; ++i)
    defaults.setObject(Value(i), "counter");
}

TEST(UserDefaultsAcrossProcesses, KilledWriterLeavesAWholeFile) {
  TempDir dir;
  const fs::path file = dir.path() / "settings.plist";
  NSUserDefaults(file).setObject(Value("kept"), "other");
  std::mt19937 random(12345);
  constexpr int kRounds = 15;
  for (int round = 0; round < kRounds; ++round) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) write_counter_forever(file);
    ::usleep(2000 + random() % 20000);
    // A slow machine may let no write finish in those moments; the last writer is killed only
    // after it has written, so the file is known to have been replaced under the kills.
    for (int waited_ms = 0; round == kRounds - 1 && waited_ms < 10000 &&
                            dictionary_in_file(file).get("counter").read_int64() == 0;
         waited_ms += 5)
      ::usleep(5000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    const Dictionary settings = dictionary_in_file(file);
    EXPECT_EQ(settings.get("other"), Value("kept"));
    EXPECT_TRUE(files_named_like(dir.path(), ".corrupt-").empty());
  }
  EXPECT_GT(dictionary_in_file(file).get("counter").read_int64(), 0);
}

TEST(UserDefaultsAcrossProcesses, ConcurrentWritersLoseNoKey) {
  TempDir dir;
  const fs::path file = dir.path() / "settings.plist";
  constexpr int kKeysPerWriter = 60;
  std::vector<pid_t> writers;
  for (std::string prefix : {"a", "b"}) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      NSUserDefaults defaults(file);
      for (int i = 0; i < kKeysPerWriter; ++i)
        defaults.setObject(Value(i), prefix + std::to_string(i));
      ::_exit(0);
    }
    writers.push_back(child);
  }
  for (pid_t writer : writers) {
    int status = 0;
    ::waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const Dictionary settings = dictionary_in_file(file);
  EXPECT_EQ(settings.size(), 2u * kKeysPerWriter);
  for (int i = 0; i < kKeysPerWriter; ++i) {
    EXPECT_EQ(settings.get("a" + std::to_string(i)), Value(i));
    EXPECT_EQ(settings.get("b" + std::to_string(i)), Value(i));
  }
}

}  // namespace

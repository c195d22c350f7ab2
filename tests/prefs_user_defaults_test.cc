#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/fs/regular_file.h"
#include "platform/plist/plist_file.h"
#include "platform/prefs/user_defaults.h"
#include "tests/support/test_support.h"

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
  std::optional<Value> root = orv::read_plist_file(file);
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

}  // namespace

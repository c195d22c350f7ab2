// Helpers shared by the tests: a temporary root directory, environment and locale variables for
// a scope, file helpers, a fresh child process for code whose state is per process, and access to
// the shared test data that other projects wrote (absent on a user's machine: tests then skip).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/value/value.h"

namespace orv::test {

// Programs built with AddressSanitizer carry its shadow memory and quarantine, and run several
// times slower: bounds on memory and on work per test allow for that there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// Polls until the condition holds or the deadline passes; true when it held.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Where the plugin's bundle and the host's settings file live under a root.
inline constexpr std::string_view kPluginBundle = "/Library/PreferenceBundles/OrvanePrefs.bundle";
inline constexpr std::string_view kSettingsFile =
    "/var/mobile/Library/Preferences/orvane.settings.plist";

// Sets environment variables (nullptr: unset) for a scope and restores them after.
class ScopedEnv {
 public:
  using Settings = std::vector<std::pair<std::string, const char*>>;
  explicit ScopedEnv(const Settings& settings);
  ScopedEnv(const char* name, const char* value) : ScopedEnv(Settings{{name, value}}) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Clears LANGUAGE, LC_ALL, LC_MESSAGES and LANG, sets the given ones, and restores all four.
class ScopedLocale : public ScopedEnv {
 public:
  ScopedLocale(std::initializer_list<std::pair<const char*, const char*>> given)
      : ScopedEnv(cleared_then(given)) {}

 private:
  static Settings cleared_then(std::initializer_list<std::pair<const char*, const char*>> given) {
    Settings all{
        {"LANGUAGE", nullptr}, {"LC_ALL", nullptr}, {"LC_MESSAGES", nullptr}, {"LANG", nullptr}};
    all.insert(all.end(), given.begin(), given.end());
    return all;
  }
};

void write_file(const std::filesystem::path& path, std::string_view contents);
std::string read_file(const std::filesystem::path& path);
// Writes root as an XML property list, making the directories on the way.
void write_xml_plist(const std::filesystem::path& path, const Value& root);

// Runs body in a forked child, so that process-wide objects created on first use start
// unmade; the child prints its failed expectations, and they fail the test here.
void run_in_fresh_process(const std::function<void()>& body);

// A fresh directory under the system temporary directory, removed with everything in it when
// the object goes away. With as_root, ORVANE_ROOT points at it for the object's lifetime.
class TempDir {
 public:
  enum class AsRoot { No, Yes };
  explicit TempDir(AsRoot as_root = AsRoot::No);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The real path of a logical absolute path under this root ("/var/mobile/Media/x").
  std::filesystem::path real(std::string_view logical) const;

 private:
  std::filesystem::path path_;
  std::optional<ScopedEnv> root_env_;
};

// A dictionary's keys in stored order (dictionary equality ignores order).
std::vector<std::string> keys_of(const Value& dictionary);

// The shared data directory (../shared/data beside the checkout), or empty when absent.
std::filesystem::path shared_data_dir();

}  // namespace orv::test

// Skips the current test with a message when the shared data directory is not there.
#define ORV_REQUIRE_SHARED_DATA()                                                        \
  do {                                                                                   \
    if (orv::test::shared_data_dir().empty())                                            \
      GTEST_SKIP() << "shared test data not found beside the checkout (../shared/data)"; \
  } while (0)

// Helpers for the tests of settings, strings and descriptions: locale variables set for a
// scope, property-list files, and a fresh child process for code whose state is per process.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "platform/plist/xml_plist.h"
#include "platform/value/value.h"
#include "tests/support/test_support.h"

namespace orv::test {

// Sets the locale variables for its lifetime (unset when given no value) and restores them.
class ScopedLocaleEnvironment {
 public:
  struct Settings {
    std::optional<std::string> language = {};
    std::optional<std::string> lc_all = {};
    std::optional<std::string> lc_messages = {};
    std::optional<std::string> lang = {};
  };
  explicit ScopedLocaleEnvironment(const Settings& settings) {
    apply("LANGUAGE", settings.language);
    apply("LC_ALL", settings.lc_all);
    apply("LC_MESSAGES", settings.lc_messages);
    apply("LANG", settings.lang);
  }
  ~ScopedLocaleEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  ScopedLocaleEnvironment(const ScopedLocaleEnvironment&) = delete;
  ScopedLocaleEnvironment& operator=(const ScopedLocaleEnvironment&) = delete;

 private:
  void apply(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value)
      ::setenv(name.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

inline void write_xml_plist(const std::filesystem::path& path, const Value& root) {
  std::optional<std::string> text = encode_xml_plist(root);
  ASSERT_TRUE(text.has_value());
  write_file(path, *text);
}

// Runs body in a forked child, so that process-wide objects created on first use start
// unmade; the child's failed expectations are printed by the child and fail the test here.
template <typename Body>
void run_in_fresh_process(Body body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    body();
    std::fflush(nullptr);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child process failed";
}

}  // namespace orv::test

// Helpers for the tests of settings, strings and descriptions: locale variables set for a
// scope, property-list files, and a fresh child process for code whose state is per process.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/plist/xml_plist.h"
#include "platform/value/value.h"
#include "tests/support/test_support.h"

namespace orv::test {

// Clears LANGUAGE, LC_ALL, LC_MESSAGES and LANG, sets the given ones, and restores all four.
class ScopedLocale {
 public:
  ScopedLocale(std::initializer_list<std::pair<const char*, const char*>> settings) {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      ::unsetenv(name);
    }
    for (const auto& [name, value] : settings)
      ::setenv(name, value, 1);
  }
  ~ScopedLocale() {
    for (const auto& [name, value] : saved_)
      value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

inline void write_xml_plist(const std::filesystem::path& path, const Value& root) {
  std::optional<std::string> text = encode_xml_plist(root);
  ASSERT_TRUE(text.has_value());
  write_file(path, *text);
}

// Runs body in a forked child, so that process-wide objects created on first use start
// unmade; the child prints its failed expectations, and they fail the test here.
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

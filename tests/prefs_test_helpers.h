// Helpers for the tests of settings, strings and descriptions: locale variables set for a
// scope, property-list files, and a fresh child process for code whose state is per process.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>

#include "platform/plist/xml_plist.h"
#include "tests/support/test_support.h"

namespace orv::test {

// Clears LANGUAGE, LC_ALL, LC_MESSAGES and LANG, sets the given ones, and restores all four.
class ScopedLocale : public ScopedEnv {
 public:
  ScopedLocale(std::initializer_list<std::pair<const char*, const char*>> given)
      : ScopedEnv(with_locale_cleared(given)) {}

 private:
  static Settings with_locale_cleared(
      std::initializer_list<std::pair<const char*, const char*>> given) {
    Settings all{
        {"LANGUAGE", nullptr}, {"LC_ALL", nullptr}, {"LC_MESSAGES", nullptr}, {"LANG", nullptr}};
    all.insert(all.end(), given.begin(), given.end());
    return all;
  }
};

inline void write_xml_plist(const std::filesystem::path& path, const Value& root) {
  write_file(path, encode_xml_plist(root).value());
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

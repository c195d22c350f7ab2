#include "tests/support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/plist/xml_plist.h"

namespace orv::test {

namespace fs = std::filesystem;

TempDir::TempDir(AsRoot as_root) {
  std::string tmpl = (fs::temp_directory_path() / "orvane-test-XXXXXX").string();
  char* made = ::mkdtemp(tmpl.data());
  if (!made) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  path_ = made;
  if (as_root == AsRoot::Yes) root_env_.emplace("ORVANE_ROOT", path_.c_str());
}

TempDir::~TempDir() {
  root_env_.reset();
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path TempDir::real(std::string_view logical) const {
  while (!logical.empty() && logical.front() == '/')
    logical.remove_prefix(1);
  return path_ / logical;
}

void write_file(const fs::path& path, std::string_view contents) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_xml_plist(const fs::path& path, const Value& root) {
  write_file(path, encode_xml_plist(root).value());
}

void run_in_fresh_process(const std::function<void()>& body) {
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

ScopedEnv::ScopedEnv(const Settings& settings) {
  // Restored in reverse order, so a name given twice still ends with its first value.
  for (const auto& [name, value] : settings) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    value ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
    it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1)
               : ::unsetenv(it->first.c_str());
}

std::vector<std::string> keys_of(const Value& dictionary) {
  std::vector<std::string> keys;
  for (const auto& entry : dictionary.as_dictionary())
    keys.push_back(entry.first);
  return keys;
}

fs::path shared_data_dir() {
  fs::path dir = ORVANE_SHARED_DATA_DIR;
  std::error_code ec;
  return fs::is_directory(dir, ec) ? fs::canonical(dir, ec) : fs::path();
}

}  // namespace orv::test

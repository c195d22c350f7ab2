// A temporary root holding a copy of the build tree's staged bundle, so benchmarks load the real
// Root.plist, string tables and KnownDaemon.plist. The process is pointed at it (root, run
// directory, English texts) before any platform object exists.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace orv::bench {

// The root, made on first use under /tmp with `name` in its directory name.
inline const std::filesystem::path& staged_root(const char* name) {
  static const std::filesystem::path root = [name] {
    std::string pattern = std::string("/tmp/orvane-") + name + "-XXXXXX";
    return std::filesystem::path(::mkdtemp(pattern.data()));
  }();
  return root;
}

// Copies the staged bundle under the root and sets the environment; false when the copy failed.
inline bool prepare_staged_root(const std::filesystem::path& root) {
  const std::filesystem::path bundle = root / "Library/PreferenceBundles/OrvanePrefs.bundle";
  std::error_code ec;
  std::filesystem::create_directories(bundle.parent_path(), ec);
  std::filesystem::copy(ORVANE_STAGED_BUNDLE_DIR, bundle, std::filesystem::copy_options::recursive,
                        ec);
  if (ec || !std::filesystem::exists(bundle / "Root.plist")) return false;
  ::setenv("ORVANE_ROOT", root.c_str(), 1);
  ::setenv("ORVANE_RUNTIME_DIR", root.c_str(), 1);
  ::setenv("LANG", "en_US.UTF-8", 1);
  for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
    ::unsetenv(variable);
  return true;
}

}  // namespace orv::bench

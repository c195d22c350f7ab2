#include "platform/fs/root.h"

#include <cstdlib>
#include <optional>
#include <utility>

#ifndef ORVANE_DEFAULT_ROOT
#define ORVANE_DEFAULT_ROOT "/"
#endif
#ifndef ORVANE_DEFAULT_BUNDLES_DIR
#define ORVANE_DEFAULT_BUNDLES_DIR ""
#endif
#ifndef ORVANE_DEFAULT_RUN_DIR
#define ORVANE_DEFAULT_RUN_DIR ""
#endif

namespace orv {

namespace {

std::string_view without_leading_slashes(std::string_view path) {
  while (!path.empty() && path.front() == '/')
    path.remove_prefix(1);
  return path;
}

// The rest of `logical` below `dir` (both without leading slashes), or nothing when `logical`
// does not lie in `dir`.
std::optional<std::string_view> below(std::string_view logical, std::string_view dir) {
  if (!logical.starts_with(dir)) return std::nullopt;
  std::string_view rest = logical.substr(dir.size());
  if (!rest.empty() && rest.front() != '/') return std::nullopt;
  return without_leading_slashes(rest);
}

RootLayout root_layout() {
  const char* env = std::getenv("ORVANE_ROOT");
  if (env && *env) return {env, {}, {}};
  return {ORVANE_DEFAULT_ROOT, ORVANE_DEFAULT_BUNDLES_DIR, ORVANE_DEFAULT_RUN_DIR};
}

}  // namespace

std::filesystem::path root_prefix() {
  return root_layout().root;
}

std::filesystem::path real_path(std::string_view logical, const RootLayout& layout) {
  logical = without_leading_slashes(logical);
  for (const auto& [dir, real] : {std::pair{kPreferenceBundlesDirectory, &layout.bundles_dir},
                                  std::pair{kRunDirectory, &layout.run_dir}}) {
    if (real->empty()) continue;
    if (auto rest = below(logical, without_leading_slashes(dir))) return *real / *rest;
  }
  return layout.root / logical;
}

std::filesystem::path real_path(std::string_view logical) {
  return real_path(logical, root_layout());
}

}  // namespace orv

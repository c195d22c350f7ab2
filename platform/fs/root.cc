#include "platform/fs/root.h"

#include <cstdlib>

#ifndef ORVANE_DEFAULT_ROOT
#define ORVANE_DEFAULT_ROOT "/"
#endif

namespace orv {

std::filesystem::path root_prefix() {
  const char* env = std::getenv("ORVANE_ROOT");
  return std::filesystem::path(env && *env ? env : ORVANE_DEFAULT_ROOT);
}

std::filesystem::path real_path(std::string_view logical) {
  while (!logical.empty() && logical.front() == '/') logical.remove_prefix(1);
  return root_prefix() / logical;
}

}  // namespace orv

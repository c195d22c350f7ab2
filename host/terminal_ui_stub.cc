#include <cstdio>

#include "host/terminal_ui.h"
namespace orv::host {
int run_terminal_ui(const LoadedBundle&) {
  std::fprintf(stderr, "orvane: the terminal UI is not built yet\n");
  return 2;
}
}  // namespace orv::host

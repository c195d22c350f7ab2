#include "orvaned/log.h"

#include <unistd.h>

#include <string>

namespace orv::service {

void log_line(std::string_view message) {
  // One write per line so lines from the main thread and the server threads never interleave.
  std::string line = "orvaned: ";
  line.append(message);
  line.push_back('\n');
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t n = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (n <= 0) return;
    rest.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace orv::service

// Runs a program as a child process with extra environment variables, stdin from /dev/null,
// and collects its standard output, standard error and exit status.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace orv::test {

struct ProcessResult {
  int status = -1;  // exit status; -1 when it did not exit normally (killed at the deadline)
  std::string out;
  std::string err;
};

ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::pair<std::string, std::string>>& env = {},
                          int timeout_seconds = 30);

}  // namespace orv::test

// `orvane logs LABEL [-n N] [-f] [--json]`: a job's last log lines, oldest first, then (with
// -f) the new ones as they come, until the user interrupts it.
#pragma once

#include <cstdio>

#include "host/command_line.h"

namespace orv::host {

// How often a follow asks for new lines: well within the fifth of a second a new line may take.
inline constexpr int kLogFollowPollMs = 100;

// Exit status: 0 printed; 2 unknown label; 1 no log kept for the job; 3 the service did not
// answer (also when it stops answering during a follow).
int run_logs(const CommandLine& command, std::FILE* out, std::FILE* err);

}  // namespace orv::host

// The job starter: the small program that becomes a job. The service spawns it without copying
// its own memory (a fork would, and every page the service wrote afterwards would fault once:
// on a virtual machine the next list of 5,000 jobs took 35 ms more), and it waits at a gate
// until the service has recorded its process id, takes the job's user and working directory,
// and execs the job's program in its place, keeping the process id.
//
// What the service and the starter agree on:
//   argv: [starter, executable, working directory or "", "uid:gid,group,group..." or "",
//          the job's argv...]; the environment is the job's.
//   descriptor 3: the gate. A byte lets the job run; end of file (the service gave up or died)
//   ends the starter before it runs anything of the job.
//   descriptor 4: the report, closed on exec. A `StartFailure` written there says which step
//   failed and why; end of file without one means the job's program runs.
#pragma once

namespace orv::service {

inline constexpr int kStarterGateFd = 3;
inline constexpr int kStarterReportFd = 4;
inline constexpr int kStarterJobArgv = 4;  // where the job's own argv begins

enum class StartStep : int { Starter, Groups, Gid, Uid, Chdir, Exec };

struct StartFailure {
  StartStep step;
  int error;
};

}  // namespace orv::service

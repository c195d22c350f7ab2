// Starting a job's process. Everything the job needs (argument and environment arrays, the
// resolved executable, the user to become) is prepared here; the job starter (job_starter.h)
// applies it in the new process and execs the job there.
//
// The job gets its own process group (so a stop reaches everything it started), standard
// input from /dev/null, and the standard output and error it is given (by default the
// service's own).
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orvaned/job_file.h"
#include "platform/fs/file_descriptor.h"
#include "platform/result.h"

namespace orv::service {

struct Identity {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

struct LaunchPlan {
  std::string executable;  // the path handed to execve
  std::vector<std::string> argv;
  std::vector<std::string> environment;  // "KEY=value"
  std::optional<std::string> working_directory;
  std::optional<Identity> identity;  // switch to this user in the child (service runs as root)
  // Set when the job names another user but the service cannot switch users: the job then
  // runs as the service's own user.
  bool runs_as_self_instead_of_user = false;
};

struct Pipe {
  FileDescriptor read_end;
  FileDescriptor write_end;
};
// Both ends are closed on exec (the child's standard streams are copies made in the child).
Result<Pipe> close_on_exec_pipe();

// What to run for the job, or why it cannot be started.
Result<LaunchPlan> plan_launch(const JobSpec& job);

// Called with the new child's id while the child is held before exec; when it fails, the child
// exits without running the job and spawn_process fails with its error.
using BeforeExec = std::function<Status(pid_t pid)>;

// Descriptors that become the child's standard output and error; -1 keeps the service's.
struct StandardStreams {
  int out = -1;
  int err = -1;
};

// Spawns the job starter and lets it exec the job, returning the job's process id. Failures up
// to and including exec are reported (the step that failed and why), and the failed process is
// already reaped. A starter whose service dies before releasing it exits without running the job.
Result<pid_t> spawn_process(const LaunchPlan& plan, const BeforeExec& before_exec,
                            StandardStreams streams = {});

}  // namespace orv::service

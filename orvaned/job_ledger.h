// The ledger of running jobs: a file in the run directory naming the first process of every
// job this service started and has not yet seen end, with that process's start time. A service
// killed without a chance to stop its jobs (SIGKILL, a crash, the OOM killer) leaves them
// running, re-parented to init; the service started next reads the ledger and ends them before
// it starts any job, so no job ever runs twice.
//
// Why a ledger, and why ending rather than adopting:
// - It is the one record that outlives the service. PR_SET_PDEATHSIG fires when the forking
//   thread ends (a job started on a client's thread would die with that connection), is cleared
//   when a job changes user or runs a set-user-ID program, reaches only a job's first process
//   and can be undone by the job. Being child subreaper makes the service the reaper of a job's
//   orphans only while it lives.
// - A child is held before exec until its record is written, so no job runs unrecorded; a
//   child whose service dies before that exits without running the job.
// - Process ids are reused: a record names a process by id and start time, and the file is
//   headed by the boot's id, so a stranger is never taken for a job.
// - A process that is not our child cannot be waited for, so its exit status (which KeepAlive
//   conditions need) is lost; ending leftovers gives a restart after a kill the same outcome as
//   a clean restart: the RunAtLoad jobs run, once each.
// - The file stays locked while the service runs, so a second service on the same run
//   directory is refused instead of ending the first one's jobs.
// A job whose first process ended after the service died, leaving others of its group behind,
// is not found: nothing then tells its group from a stranger's that took the same id later.
// Records have a fixed width, so an update cut short by a kill leaves whole records: at worst
// records of processes already gone, which no running process matches.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "orvaned/process_table.h"
#include "platform/fs/file_descriptor.h"
#include "platform/result.h"

namespace orv::service {

class JobLedger {
 public:
  // Opens the ledger (creating it, mode 0600) and locks it for the life of the object. Refused
  // when another service holds it, or when it is not a regular file of this service's user.
  static Result<JobLedger> open(const std::filesystem::path& file);

  struct Entry {
    pid_t pid;
    StartTime start_time;
  };
  // The first processes of the jobs an earlier service left running, as found at open and not
  // forgotten since.
  const std::vector<Entry>& left_by_earlier_run() const { return leftovers_; }

  // Records a process that is about to run a job; fails when the record cannot be written.
  Status record(pid_t pid);
  // Drops the record of a process that has ended (or was never started); fails when the
  // ledger cannot be written, which leaves a harmless record of a process that is gone.
  Status forget(pid_t pid);

 private:
  JobLedger(FileDescriptor fd, std::string header)
      : fd_(std::move(fd)), header_(std::move(header)) {}
  Status rewrite();

  FileDescriptor fd_;
  std::string header_;  // names the boot the records belong to
  std::vector<Entry> entries_;
  std::vector<Entry> leftovers_;
};

}  // namespace orv::service

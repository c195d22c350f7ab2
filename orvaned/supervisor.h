// The job directories' backend: owns the jobs' processes. Server threads (start and stop requests,
// job listings, any number at once) and the main thread (reaping exits, restarting kept-alive jobs)
// share it. One mutex guards the jobs' state and is held only for bookkeeping, never while a
// stop waits for a job to end, so a slow stop delays no other request. Every process it starts
// is entered in the job ledger before it runs, and leaves it once reaped. Each job has a log:
// its output, captured through pipes, and a line for everything the supervisor did to it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "orvaned/child_process.h"
#include "orvaned/job_backend.h"
#include "orvaned/job_file.h"
#include "orvaned/job_ledger.h"
#include "orvaned/log_store.h"
#include "orvaned/output_capture.h"
#include "platform/result.h"
#include "platform/value/value.h"

namespace orv::service {

class Supervisor final : public JobBackend {
 public:
  using Clock = std::chrono::steady_clock;
  struct Timing {
    Clock::duration throttle = std::chrono::seconds(10);     // least time between two starts
    Clock::duration stop_timeout = std::chrono::seconds(5);  // SIGTERM grace before SIGKILL
  };

  Supervisor(std::vector<JobSpec> jobs, Timing timing, JobLedger ledger);
  Supervisor(const Supervisor&) = delete;
  Supervisor& operator=(const Supervisor&) = delete;

  // Ends the jobs an earlier run of the service left running, as a stop does; returns once they
  // are gone. Called before any job starts.
  void end_jobs_left_by_earlier_run();
  void start_run_at_load_jobs();
  // Starting a running job succeeds without a second process; a start that comes while the job
  // is being stopped waits for the stop to finish. A start also re-arms KeepAlive.
  JobStatus start_job(std::string_view label) override;
  // SIGTERM to the job's process group, SIGKILL after the stop timeout; returns once the job's
  // process is gone (or, for a process that even SIGKILL cannot end, shortly after). A stopped
  // job stays stopped until it is started again, KeepAlive or not. Stops of the same job may
  // overlap; each returns once the job is gone.
  JobStatus stop_job(std::string_view label) override;
  // Stops every running job, as stop_job does, all at once; used at shutdown.
  void stop_all();

  // Collects every exited child without blocking and schedules KeepAlive restarts.
  void reap_exited_children();
  // Starts the kept-alive jobs whose restart is due.
  void start_due_restarts();
  // When start_due_restarts next has something to do.
  std::optional<Clock::time_point> next_restart() const;

  // One daemon record per job, in job order.
  Array records() const override;
  LogPage read_log(const LogQuery& query) const override;

 private:
  struct Job {
    JobSpec spec;
    pid_t pid = -1;
    bool stopped_by_request = false;
    bool warned_about_user = false;
    bool being_stopped = false;  // by one stop; others for the same job wait for it
    std::optional<Clock::time_point> last_start;
    std::optional<Clock::time_point> restart_at;
    std::unique_ptr<LogStore> log = std::make_unique<LogStore>();
  };
  // How to reach and watch a process group that is being ended.
  struct GroupWatch {
    std::function<void(pid_t group, int signal)> signal;
    std::function<bool(pid_t group)> running;
  };

  Job* find(std::string_view label);
  Status spawn_locked(Job& job, const Result<LaunchPlan>& plan);
  Result<pid_t> spawn_captured_locked(Job& job, const LaunchPlan& plan,
                                      const BeforeExec& before_exec);
  void note_throttled(Job& job, Clock::duration wait);
  void note(Job& job, std::string text) { job.log->append(LogStream::Service, std::move(text)); }
  bool start_locked(Job& job, const Result<LaunchPlan>& plan);  // logs why a start failed
  bool leader_unreaped_locked(pid_t group) const;
  void forget_locked(pid_t pid);  // drops a process from the ledger, logging a failed write
  void reap_locked();
  void note_exit_locked(Job& job, int wait_status);
  void signal_own_group(pid_t group, int signal);
  bool own_group_runs(pid_t group);
  void stop(const std::vector<Job*>& jobs);
  void end_groups(std::vector<pid_t> groups, const GroupWatch& watch);

  Timing timing_;
  std::vector<Job> jobs_;  // fixed at construction: labels and specs are read without the lock
  mutable std::mutex mutex_;
  std::condition_variable exited_;
  std::condition_variable stop_finished_;
  JobLedger ledger_;
  OutputCapture capture_;  // declared last: its thread ends before the jobs' stores go
};

}  // namespace orv::service

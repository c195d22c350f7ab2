// The job supervisor: owns the jobs' processes. Server threads (start and stop requests, job
// listings) and the main thread (reaping exits, restarting kept-alive jobs) share it, so every
// public member takes the one internal mutex.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/value/value.h"
#include "orvaned/job_file.h"

namespace orv::service {

enum class JobStatus : int { Ok = 0, UnknownLabel = -2, SpawnFailed = -3 };

class Supervisor {
 public:
  using Clock = std::chrono::steady_clock;
  struct Timing {
    Clock::duration throttle = std::chrono::seconds(10);     // least time between two starts
    Clock::duration stop_timeout = std::chrono::seconds(5);  // SIGTERM grace before SIGKILL
  };

  Supervisor(std::vector<JobSpec> jobs, Timing timing);
  Supervisor(const Supervisor&) = delete;
  Supervisor& operator=(const Supervisor&) = delete;

  void start_run_at_load_jobs();
  // Starting a running job succeeds without a second process. A start also re-arms KeepAlive.
  JobStatus start_job(std::string_view label);
  // SIGTERM to the job's process group, SIGKILL after the stop timeout; returns once the job's
  // process is gone (or, for a process that even SIGKILL cannot end, shortly after). A stopped
  // job stays stopped until it is started again, KeepAlive or not.
  JobStatus stop_job(std::string_view label);
  // Stops every running job, as stop_job does, all at once; used at shutdown.
  void stop_all();

  // Collects every exited child without blocking and schedules KeepAlive restarts.
  void reap_exited_children();
  // Starts the kept-alive jobs whose restart is due.
  void start_due_restarts();
  // When start_due_restarts next has something to do.
  std::optional<Clock::time_point> next_restart() const;

  // One daemon record per job, in job order.
  Array records() const;

 private:
  struct Job {
    JobSpec spec;
    pid_t pid = -1;
    bool stopped_by_request = false;
    bool warned_about_user = false;
    std::optional<Clock::time_point> last_start;
    std::optional<Clock::time_point> restart_at;
  };

  Job* find(std::string_view label);
  bool spawn_locked(Job& job);
  void reap_locked();
  void note_exit_locked(Job& job, int wait_status);
  void stop_locked(std::unique_lock<std::mutex>& lock, const std::vector<Job*>& jobs);

  Timing timing_;
  std::vector<Job> jobs_;
  mutable std::mutex mutex_;
  std::condition_variable exited_;
};

}  // namespace orv::service

#include "orvaned/supervisor.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "orvaned/child_process.h"
#include "orvaned/log.h"

namespace orv::service {

namespace {

using namespace std::chrono_literals;

// After SIGKILL a process can still linger (uninterruptible sleep); a stop request does not
// wait for it longer than this, and the main loop reaps it whenever it goes.
constexpr auto kKillGrace = 2s;
constexpr auto kStopPoll = 20ms;
// A failing restart is retried no more often than this, even with a zero throttle.
constexpr auto kMinimumRetry = 100ms;

bool exited_successfully(int wait_status) {
  return WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
}

// KeepAlive true restarts after every exit; a conditions dictionary restarts after every exit
// unless it holds "SuccessfulExit", which restarts only when the exit's success matches it.
bool should_restart(const Value& keep_alive, int wait_status) {
  if (const bool* b = keep_alive.if_boolean()) return *b;
  const Dictionary* conditions = keep_alive.if_dictionary();
  if (!conditions || conditions->empty()) return false;
  if (const bool* on_success = conditions->get("SuccessfulExit").if_boolean())
    return *on_success == exited_successfully(wait_status);
  return true;
}

std::string describe_exit(int wait_status) {
  if (WIFEXITED(wait_status))
    return "exited with status " + std::to_string(WEXITSTATUS(wait_status));
  if (WIFSIGNALED(wait_status)) return "killed by signal " + std::to_string(WTERMSIG(wait_status));
  return "ended";
}

Value record_of(const JobSpec& spec, pid_t pid) {
  Dictionary record;
  record.set("Label", spec.label);
  record.set("Pid", static_cast<std::int64_t>(pid > 0 ? pid : -1));
  record.set("Type", spec.type);
  record.set("Plist", spec.plist_path);
  record.set("RunAtLoad", spec.run_at_load);
  record.set("KeepAlive", spec.keep_alive.is_null() ? Value(false) : spec.keep_alive);
  if (spec.program_arguments) {
    Array args(spec.program_arguments->begin(), spec.program_arguments->end());
    record.set("ProgramArguments", std::move(args));
  }
  if (spec.program) record.set("Program", *spec.program);
  if (spec.user_name) record.set("User", *spec.user_name);
  return Value(std::move(record));
}

}  // namespace

Supervisor::Supervisor(std::vector<JobSpec> jobs, Timing timing) : timing_(timing) {
  jobs_.reserve(jobs.size());
  for (JobSpec& spec : jobs)
    jobs_.emplace_back().spec = std::move(spec);
}

Supervisor::Job* Supervisor::find(std::string_view label) {
  for (Job& job : jobs_)
    if (job.spec.label == label) return &job;
  return nullptr;
}

bool Supervisor::spawn_locked(Job& job) {
  job.last_start = Clock::now();
  job.restart_at.reset();
  PlanResult planned = plan_launch(job.spec);
  if (!planned.plan) {
    log_line("cannot start " + job.spec.label + ": " + planned.error);
    return false;
  }
  if (planned.runs_as_self_instead_of_user && !job.warned_about_user) {
    log_line(job.spec.label + " runs as this service's user, not as " + *job.spec.user_name +
             ": switching users needs root");
    job.warned_about_user = true;
  }
  SpawnResult spawned = spawn_process(*planned.plan);
  if (spawned.pid <= 0) {
    log_line("cannot start " + job.spec.label + ": " + spawned.error);
    return false;
  }
  job.pid = spawned.pid;
  return true;
}

void Supervisor::start_run_at_load_jobs() {
  std::lock_guard lock(mutex_);
  for (Job& job : jobs_)
    if (job.spec.run_at_load) spawn_locked(job);
}

JobStatus Supervisor::start_job(std::string_view label) {
  std::lock_guard lock(mutex_);
  Job* job = find(label);
  if (!job) return JobStatus::UnknownLabel;
  job->stopped_by_request = false;
  if (job->pid > 0) return JobStatus::Ok;
  return spawn_locked(*job) ? JobStatus::Ok : JobStatus::SpawnFailed;
}

JobStatus Supervisor::stop_job(std::string_view label) {
  std::unique_lock lock(mutex_);
  Job* job = find(label);
  if (!job) return JobStatus::UnknownLabel;
  stop_locked(lock, {job});
  return JobStatus::Ok;
}

void Supervisor::stop_all() {
  std::unique_lock lock(mutex_);
  std::vector<Job*> all;
  for (Job& job : jobs_)
    all.push_back(&job);
  stop_locked(lock, all);
}

void Supervisor::stop_locked(std::unique_lock<std::mutex>& lock, const std::vector<Job*>& jobs) {
  // A job's process group is its first process's id; it stays valid (and cannot be reused)
  // while any member lives, and with the service as child subreaper every member that dies is
  // reaped here, so the group vanishes exactly when the whole job is gone. The first process
  // is signalled by itself too, in case it moved to a group or session of its own.
  std::vector<pid_t> groups;
  for (Job* job : jobs) {
    job->stopped_by_request = true;
    job->restart_at.reset();
    if (job->pid > 0) groups.push_back(job->pid);
  }
  auto signal_all = [&](int sig) {
    for (pid_t group : groups)
      ::kill(-group, sig);
    for (const Job* job : jobs)
      if (job->pid > 0) ::kill(job->pid, sig);
  };
  auto anything_left = [&] {
    std::erase_if(groups, [](pid_t group) { return ::kill(-group, 0) != 0 && errno == ESRCH; });
    return !groups.empty() ||
           std::any_of(jobs.begin(), jobs.end(), [](const Job* job) { return job->pid > 0; });
  };
  signal_all(SIGTERM);
  const auto kill_at = Clock::now() + timing_.stop_timeout;
  bool killed = false;
  // Exits are reaped here as well as on the main thread (both under the mutex), so a stop
  // completes even while the main thread is busy or already shutting down.
  while (true) {
    reap_locked();
    if (!anything_left()) return;
    auto now = Clock::now();
    if (!killed && now >= kill_at) {
      signal_all(SIGKILL);
      killed = true;
    }
    if (killed && now >= kill_at + kKillGrace) return;
    exited_.wait_for(lock, kStopPoll);
  }
}

void Supervisor::reap_exited_children() {
  std::lock_guard lock(mutex_);
  reap_locked();
}

void Supervisor::reap_locked() {
  bool any = false;
  while (true) {
    int status = 0;
    pid_t pid = ::waitpid(-1, &status, WNOHANG);
    if (pid <= 0) break;
    any = true;
    auto it =
        std::find_if(jobs_.begin(), jobs_.end(), [pid](const Job& j) { return j.pid == pid; });
    if (it != jobs_.end()) note_exit_locked(*it, status);
  }
  if (any) exited_.notify_all();
}

void Supervisor::note_exit_locked(Job& job, int wait_status) {
  job.pid = -1;
  log_line(job.spec.label + " " + describe_exit(wait_status));
  if (job.stopped_by_request || !should_restart(job.spec.keep_alive, wait_status)) return;
  auto earliest = job.last_start.value_or(Clock::now()) + timing_.throttle;
  job.restart_at = std::max(Clock::now(), earliest);
}

void Supervisor::start_due_restarts() {
  std::lock_guard lock(mutex_);
  auto now = Clock::now();
  for (Job& job : jobs_) {
    if (!job.restart_at || *job.restart_at > now || job.pid > 0) continue;
    if (!spawn_locked(job))
      job.restart_at = now + std::max<Clock::duration>(timing_.throttle, kMinimumRetry);
  }
}

std::optional<Supervisor::Clock::time_point> Supervisor::next_restart() const {
  std::lock_guard lock(mutex_);
  std::optional<Clock::time_point> next;
  for (const Job& job : jobs_)
    if (job.restart_at && (!next || *job.restart_at < *next)) next = job.restart_at;
  return next;
}

Array Supervisor::records() const {
  std::lock_guard lock(mutex_);
  Array out;
  out.reserve(jobs_.size());
  for (const Job& job : jobs_)
    out.push_back(record_of(job.spec, job.pid));
  return out;
}

}  // namespace orv::service

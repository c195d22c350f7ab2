#include "orvaned/supervisor.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "orvaned/below_root.h"
#include "orvaned/child_process.h"
#include "orvaned/log.h"
#include "orvaned/process_table.h"

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

std::string seconds_text(Supervisor::Clock::duration wait) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(ms) / 1000);
  return text;
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

Supervisor::Supervisor(std::vector<JobSpec> jobs, Timing timing, JobLedger ledger)
    : timing_(timing), ledger_(std::move(ledger)) {
  jobs_.reserve(jobs.size());
  for (JobSpec& spec : jobs)
    jobs_.emplace_back().spec = std::move(spec);
}

Supervisor::Job* Supervisor::find(std::string_view label) {
  for (Job& job : jobs_)
    if (job.spec.label == label) return &job;
  return nullptr;
}

Status Supervisor::spawn_locked(Job& job, const Result<LaunchPlan>& plan) {
  job.last_start = Clock::now();
  job.restart_at.reset();
  if (!plan) return fail(plan.error());
  if (plan->runs_as_self_instead_of_user && !job.warned_about_user) {
    log_line(job.spec.label + " runs as this service's user, not as " + *job.spec.user_name +
             ": switching users needs root");
    job.warned_about_user = true;
  }
  pid_t recorded = -1;
  Result<pid_t> pid = spawn_captured_locked(job, *plan, [this, &recorded](pid_t child) {
    Status entered = ledger_.record(child);
    if (entered) recorded = child;
    return entered;
  });
  if (!pid) {
    if (recorded > 0) forget_locked(recorded);
    return fail(pid.error());
  }
  job.pid = *pid;
  return {};
}

// The job's output goes through pipes to the capture; a file it names for a copy that cannot
// be opened is said in its log, and the job runs all the same.
Result<pid_t> Supervisor::spawn_captured_locked(Job& job, const LaunchPlan& plan,
                                                const BeforeExec& before_exec) {
  Result<Pipe> out = close_on_exec_pipe();
  if (!out) return fail(out.error());
  Result<Pipe> err = close_on_exec_pipe();
  if (!err) return fail(err.error());
  auto open_copy = [this, &job](const std::optional<std::string>& path) {
    if (!path) return FileDescriptor();
    Result<FileDescriptor> file = open_for_append_below_root(*path);
    if (file) return std::move(*file);
    note(job, "cannot write to " + *path + ": " + file.error().message);
    return FileDescriptor();
  };
  FileDescriptor out_copy = open_copy(job.spec.standard_out_path);
  FileDescriptor err_copy = open_copy(job.spec.standard_error_path);
  Result<pid_t> pid =
      spawn_process(plan, before_exec, {out->write_end.get(), err->write_end.get()});
  if (!pid) return pid;
  note(job, "started with pid " + std::to_string(*pid));
  capture_.watch(std::move(out->read_end), *job.log, LogStream::Out, std::move(out_copy));
  capture_.watch(std::move(err->read_end), *job.log, LogStream::Err, std::move(err_copy));
  return pid;
}

bool Supervisor::start_locked(Job& job, const Result<LaunchPlan>& plan) {
  Status started = spawn_locked(job, plan);
  if (!started) {
    log_line("cannot start " + job.spec.label + ": " + started.error().message);
    note(job, "start failed: " + started.error().message);
  }
  return started.has_value();
}

void Supervisor::forget_locked(pid_t pid) {
  if (Status forgotten = ledger_.forget(pid); !forgotten) log_line(forgotten.error().message);
}

void Supervisor::end_jobs_left_by_earlier_run() {
  std::vector<JobLedger::Entry> leftovers;
  {
    std::lock_guard lock(mutex_);
    leftovers = ledger_.left_by_earlier_run();
  }
  if (leftovers.empty()) return;
  log_line("ending the jobs that an earlier run left running: " + std::to_string(leftovers.size()));
  // Not our children: their ends are seen in /proc, and a first process is signalled on its
  // own only while it is still the recorded one.
  auto leader_runs = [&leftovers](pid_t group) {
    auto entry = std::find_if(leftovers.begin(), leftovers.end(),
                              [group](const JobLedger::Entry& e) { return e.pid == group; });
    return start_time_of_running_process(group) == entry->start_time;
  };
  auto signal = [&leader_runs](pid_t group, int sig) {
    ::kill(-group, sig);
    if (leader_runs(group)) ::kill(group, sig);
  };
  auto running = [&leader_runs](pid_t group) {
    return leader_runs(group) || group_has_running_member(group);
  };
  std::vector<pid_t> groups;
  for (const JobLedger::Entry& entry : leftovers)
    groups.push_back(entry.pid);
  end_groups(groups, {signal, running});
  std::lock_guard lock(mutex_);
  for (pid_t group : groups)
    if (!running(group)) forget_locked(group);
}

void Supervisor::start_run_at_load_jobs() {
  std::lock_guard lock(mutex_);
  for (Job& job : jobs_)
    if (job.spec.run_at_load) start_locked(job, plan_launch(job.spec));
}

JobStatus Supervisor::start_job(std::string_view label) {
  Job* job = find(label);
  if (!job) return JobStatus::UnknownLabel;
  // Planned without the lock: looking up a user can take as long as the system's user
  // database does.
  Result<LaunchPlan> plan = plan_launch(job->spec);
  std::unique_lock lock(mutex_);
  stop_finished_.wait(lock, [job] { return !job->being_stopped; });
  job->stopped_by_request = false;
  if (job->pid > 0) return JobStatus::Ok;
  return start_locked(*job, plan) ? JobStatus::Ok : JobStatus::SpawnFailed;
}

JobStatus Supervisor::stop_job(std::string_view label) {
  Job* job = find(label);
  if (!job) return JobStatus::UnknownLabel;
  stop({job});
  return JobStatus::Ok;
}

void Supervisor::stop_all() {
  std::vector<Job*> all;
  for (Job& job : jobs_)
    all.push_back(&job);
  stop(all);
}

bool Supervisor::leader_unreaped_locked(pid_t group) const {
  return std::any_of(jobs_.begin(), jobs_.end(), [group](const Job& j) { return j.pid == group; });
}

// A job's process group is its first process's id; it stays valid (and cannot be reused) while
// any member lives, and with the service as child subreaper every member that dies is reaped
// here, so the group vanishes exactly when the whole job is gone. The first process is
// signalled by itself too, in case it moved to a group or session of its own.
void Supervisor::signal_own_group(pid_t group, int sig) {
  ::kill(-group, sig);
  std::lock_guard lock(mutex_);
  if (leader_unreaped_locked(group)) ::kill(group, sig);
}

bool Supervisor::own_group_runs(pid_t group) {
  std::lock_guard lock(mutex_);
  return leader_unreaped_locked(group) || ::kill(-group, 0) == 0 || errno != ESRCH;
}

void Supervisor::stop(const std::vector<Job*>& jobs) {
  std::vector<Job*> mine;
  std::vector<pid_t> groups;
  {
    std::lock_guard lock(mutex_);
    for (Job* job : jobs) {
      job->stopped_by_request = true;
      job->restart_at.reset();
      if (job->being_stopped || job->pid <= 0) continue;
      job->being_stopped = true;
      mine.push_back(job);
      groups.push_back(job->pid);
    }
  }
  end_groups(std::move(groups), {[this](pid_t group, int sig) { signal_own_group(group, sig); },
                                 [this](pid_t group) { return own_group_runs(group); }});
  std::unique_lock lock(mutex_);
  for (Job* job : mine)
    job->being_stopped = false;
  stop_finished_.notify_all();
  // Jobs another request was already stopping are done when that stop is.
  stop_finished_.wait(lock, [&jobs] {
    return std::none_of(jobs.begin(), jobs.end(),
                        [](const Job* job) { return job->being_stopped; });
  });
}

void Supervisor::end_groups(std::vector<pid_t> groups, const GroupWatch& watch) {
  for (pid_t group : groups)
    watch.signal(group, SIGTERM);
  const auto kill_at = Clock::now() + timing_.stop_timeout;
  bool killed = false;
  while (true) {
    // Exits are reaped here as well as on the main thread, so a stop completes even while the
    // main thread is busy or already shutting down.
    reap_exited_children();
    std::erase_if(groups, [&watch](pid_t group) { return !watch.running(group); });
    if (groups.empty()) return;
    auto now = Clock::now();
    if (!killed && now >= kill_at) {
      for (pid_t group : groups)
        watch.signal(group, SIGKILL);
      killed = true;
    }
    if (killed && now >= kill_at + kKillGrace) return;
    std::unique_lock lock(mutex_);
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
  forget_locked(job.pid);
  job.pid = -1;
  log_line(job.spec.label + " " + describe_exit(wait_status));
  capture_.drain(*job.log);
  note(job, describe_exit(wait_status));
  if (job.stopped_by_request || !should_restart(job.spec.keep_alive, wait_status)) return;
  const auto now = Clock::now();
  auto earliest = job.last_start.value_or(now) + timing_.throttle;
  job.restart_at = std::max(now, earliest);
  if (earliest > now) note_throttled(job, earliest - now);
}

void Supervisor::start_due_restarts() {
  std::lock_guard lock(mutex_);
  auto now = Clock::now();
  for (Job& job : jobs_) {
    if (!job.restart_at || *job.restart_at > now || job.pid > 0) continue;
    if (start_locked(job, plan_launch(job.spec))) continue;
    const auto retry = std::max<Clock::duration>(timing_.throttle, kMinimumRetry);
    job.restart_at = now + retry;
    note_throttled(job, retry);
  }
}

std::optional<Supervisor::Clock::time_point> Supervisor::next_restart() const {
  std::lock_guard lock(mutex_);
  std::optional<Clock::time_point> next;
  for (const Job& job : jobs_)
    if (job.restart_at && (!next || *job.restart_at < *next)) next = job.restart_at;
  return next;
}

void Supervisor::note_throttled(Job& job, Clock::duration wait) {
  note(job, "restart throttled: next start in " + seconds_text(wait) + " s");
}

LogPage Supervisor::read_log(const LogQuery& query) const {
  auto job = std::find_if(jobs_.begin(), jobs_.end(),
                          [&query](const Job& j) { return j.spec.label == query.label; });
  if (job == jobs_.end()) return {JobStatus::UnknownLabel, {}, {}};
  return job->log->page(query.lines, query.after);
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

#include "orvaned/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "orvaned/job_starter.h"
#include "platform/fs/file_descriptor.h"

extern char** environ;

namespace orv::service {

namespace {

struct Account {
  uid_t uid;
  gid_t gid;
  std::string name;
  std::string home;
};

std::optional<Account> look_up_account(const std::string& name) {
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwnam_r(name.c_str(), &pw, buffer.data(), buffer.size(), &found) != 0 || !found)
    return std::nullopt;
  return Account{pw.pw_uid, pw.pw_gid, pw.pw_name, pw.pw_dir};
}

std::vector<gid_t> supplementary_groups(const Account& account) {
  int count = 32;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  while (::getgrouplist(account.name.c_str(), account.gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count) + 32);
    count = static_cast<int>(groups.size());
  }
  groups.resize(static_cast<size_t>(count));
  return groups;
}

// The service's environment with the job's variables (and, for a user switch, the account's
// HOME, USER and LOGNAME) laid over it.
std::vector<std::string> job_environment(const JobSpec& job, const std::optional<Account>& as) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    auto eq = entry.find('=');
    if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  if (as) {
    vars["HOME"] = as->home;
    vars["USER"] = as->name;
    vars["LOGNAME"] = as->name;
  }
  for (const auto& [key, value] : job.environment)
    vars[key] = value;
  std::vector<std::string> out;
  for (const auto& [key, value] : vars)
    out.push_back(key + "=" + value);
  return out;
}

bool is_executable_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A bare command name is looked up on the PATH the job will run with, as a shell would.
std::optional<std::string> resolve_executable(const std::string& name,
                                              const std::vector<std::string>& environment) {
  if (name.find('/') != std::string::npos) return name;
  std::string path = "/usr/local/bin:/usr/bin:/bin";
  for (const std::string& entry : environment)
    if (entry.starts_with("PATH=")) path = entry.substr(5);
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (is_executable_file(candidate)) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (std::string& s : strings)
    out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

const char* step_name(StartStep step) {
  switch (step) {
    case StartStep::Starter:
      break;
    case StartStep::Groups:
      return "setgroups";
    case StartStep::Gid:
      return "setgid";
    case StartStep::Uid:
      return "setuid";
    case StartStep::Chdir:
      return "chdir";
    case StartStep::Exec:
      return "exec";
  }
  return "start";
}

// Beside the service, in the build tree as where it is installed; never a path relative to
// the working directory. Found once: the program does not move while it runs.
const Result<std::string>& starter_path() {
  static const Result<std::string> path = []() -> Result<std::string> {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !self.is_absolute())
      return fail("cannot find the job starter: /proc/self/exe does not name this program");
    return (self.parent_path().parent_path() / ORVANED_STARTER).string();
  }();
  return path;
}

// "uid:gid,group,group...", as the starter reads it.
std::string identity_argument(const std::optional<Identity>& identity) {
  if (!identity) return {};
  std::string out = std::to_string(identity->uid);
  out.append(":").append(std::to_string(identity->gid));
  for (gid_t group : identity->groups)
    out.append(",").append(std::to_string(group));
  return out;
}

// A copy of `fd` numbered above the starter's fixed descriptors, so that placing one of them
// cannot overwrite another before it was placed.
Result<FileDescriptor> above_starter_fds(int fd) {
  int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, kStarterReportFd + 1);
  if (copy < 0) return fail_errno("dup");
  return FileDescriptor(copy);
}

// posix_spawn's attributes and file actions, released however the spawn ends.
struct SpawnSetup {
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  SpawnSetup() {
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// The starter runs in a process group of its own with every signal at its default and none
// blocked, reads /dev/null, writes to the job's streams and holds the gate and the report.
void prepare(SpawnSetup& setup, StandardStreams streams, int gate, int report) {
  sigset_t all, none;
  ::sigfillset(&all);
  ::sigemptyset(&none);
  ::posix_spawnattr_setflags(
      &setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  ::posix_spawnattr_setpgroup(&setup.attributes, 0);
  ::posix_spawnattr_setsigdefault(&setup.attributes, &all);
  ::posix_spawnattr_setsigmask(&setup.attributes, &none);
  ::posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (streams.out >= 0)
    ::posix_spawn_file_actions_adddup2(&setup.actions, streams.out, STDOUT_FILENO);
  if (streams.err >= 0)
    ::posix_spawn_file_actions_adddup2(&setup.actions, streams.err, STDERR_FILENO);
  ::posix_spawn_file_actions_adddup2(&setup.actions, gate, kStarterGateFd);
  ::posix_spawn_file_actions_adddup2(&setup.actions, report, kStarterReportFd);
}

}  // namespace

Result<Pipe> close_on_exec_pipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return fail_errno("pipe");
  return Pipe{FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

Result<LaunchPlan> plan_launch(const JobSpec& job) {
  LaunchPlan plan;
  std::optional<Account> switch_to;
  if (job.user_name) {
    std::optional<Account> account = look_up_account(*job.user_name);
    if (!account) return fail("no user named " + *job.user_name);
    if (::geteuid() == 0)
      switch_to = account;
    else if (account->uid != ::geteuid())
      plan.runs_as_self_instead_of_user = true;
  }
  plan.environment = job_environment(job, switch_to);
  plan.argv =
      job.program_arguments ? *job.program_arguments : std::vector<std::string>{*job.program};
  std::string program = job.program ? *job.program : plan.argv.front();
  std::optional<std::string> executable = resolve_executable(program, plan.environment);
  if (!executable) return fail("no program " + program + " on PATH");
  plan.executable = *executable;
  plan.working_directory = job.working_directory;
  if (switch_to)
    plan.identity = Identity{switch_to->uid, switch_to->gid, supplementary_groups(*switch_to)};
  return plan;
}

Result<pid_t> spawn_process(const LaunchPlan& plan, const BeforeExec& before_exec,
                            StandardStreams streams) {
  const Result<std::string>& starter = starter_path();
  if (!starter) return fail(starter.error());
  std::vector<std::string> argv_strings{*starter, plan.executable,
                                        plan.working_directory.value_or(""),
                                        identity_argument(plan.identity)};
  argv_strings.insert(argv_strings.end(), plan.argv.begin(), plan.argv.end());
  std::vector<std::string> env_strings = plan.environment;
  std::vector<char*> argv = c_strings(argv_strings);
  std::vector<char*> envp = c_strings(env_strings);

  auto gate = close_on_exec_pipe();
  if (!gate) return fail(gate.error());
  auto report = close_on_exec_pipe();
  if (!report) return fail(report.error());
  auto gate_end = above_starter_fds(gate->read_end.get());
  if (!gate_end) return fail(gate_end.error());
  auto report_end = above_starter_fds(report->write_end.get());
  if (!report_end) return fail(report_end.error());
  gate->read_end = FileDescriptor();
  report->write_end = FileDescriptor();

  SpawnSetup setup;
  prepare(setup, streams, gate_end->get(), report_end->get());
  pid_t pid = -1;
  int spawned = ::posix_spawn(&pid, argv.front(), &setup.actions, &setup.attributes, argv.data(),
                              envp.data());
  if (spawned != 0) return fail_errno("cannot run " + argv_strings.front(), spawned);
  *gate_end = FileDescriptor();
  *report_end = FileDescriptor();
  if (Status held = before_exec(pid); !held) {
    gate->write_end = FileDescriptor();  // the starter sees the end of the gate and exits
    ::waitpid(pid, nullptr, 0);
    return fail(held.error());
  }
  const char go = 1;
  [[maybe_unused]] ssize_t released = ::write(gate->write_end.get(), &go, 1);
  StartFailure failure{};
  ssize_t n;
  do {
    n = ::read(report->read_end.get(), &failure, sizeof failure);
  } while (n < 0 && errno == EINTR);
  if (n == 0) return pid;
  ::waitpid(pid, nullptr, 0);
  if (n != static_cast<ssize_t>(sizeof failure)) return fail("the job starter failed before exec");
  return fail(std::string(step_name(failure.step)) + ": " + std::strerror(failure.error),
              failure.error);
}

}  // namespace orv::service

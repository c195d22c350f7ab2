#include "orvaned/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

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

enum class ChildStep : int { Stdin, Output, Groups, Gid, Uid, Chdir, Exec };

const char* step_name(ChildStep step) {
  switch (step) {
    case ChildStep::Stdin:
      return "opening /dev/null";
    case ChildStep::Output:
      return "connecting standard output and error";
    case ChildStep::Groups:
      return "setgroups";
    case ChildStep::Gid:
      return "setgid";
    case ChildStep::Uid:
      return "setuid";
    case ChildStep::Chdir:
      return "chdir";
    case ChildStep::Exec:
      return "exec";
  }
  return "start";
}

struct ChildFailure {
  ChildStep step;
  int error;
};

[[noreturn]] void fail_in_child(int report_fd, ChildStep step) {
  ChildFailure failure{step, errno};
  ssize_t ignored = ::write(report_fd, &failure, sizeof failure);
  (void)ignored;
  ::_exit(127);
}

// Blocks until the parent lets the child go on; a parent that dies (or refuses) first leaves
// the gate closed without a byte, and the child ends before it runs anything of the job.
void wait_at_gate(int gate_fd) {
  char go = 0;
  ssize_t n;
  do {
    n = ::read(gate_fd, &go, 1);
  } while (n < 0 && errno == EINTR);
  if (n != 1) ::_exit(127);
  ::close(gate_fd);
}

// Runs in the forked child: async-signal-safe calls only.
[[noreturn]] void exec_in_child(const LaunchPlan& plan, char* const* argv, char* const* envp,
                                StandardStreams streams, int gate_fd, int report_fd) {
  ::setpgid(0, 0);
  wait_at_gate(gate_fd);
  for (int sig = 1; sig < NSIG; ++sig)
    ::signal(sig, SIG_DFL);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null_fd < 0 || ::dup2(null_fd, STDIN_FILENO) < 0) fail_in_child(report_fd, ChildStep::Stdin);
  if ((streams.out >= 0 && ::dup2(streams.out, STDOUT_FILENO) < 0) ||
      (streams.err >= 0 && ::dup2(streams.err, STDERR_FILENO) < 0))
    fail_in_child(report_fd, ChildStep::Output);
  if (plan.identity) {
    const Identity& id = *plan.identity;
    if (::setgroups(id.groups.size(), id.groups.data()) != 0)
      fail_in_child(report_fd, ChildStep::Groups);
    if (::setgid(id.gid) != 0) fail_in_child(report_fd, ChildStep::Gid);
    if (::setuid(id.uid) != 0) fail_in_child(report_fd, ChildStep::Uid);
  }
  if (plan.working_directory && ::chdir(plan.working_directory->c_str()) != 0)
    fail_in_child(report_fd, ChildStep::Chdir);
  // Descriptors the service holds (sockets, signalfd) must not leak into jobs.
  ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  ::execve(plan.executable.c_str(), argv, envp);
  fail_in_child(report_fd, ChildStep::Exec);
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
  std::vector<std::string> argv_strings = plan.argv;
  std::vector<std::string> env_strings = plan.environment;
  std::vector<char*> argv = c_strings(argv_strings);
  std::vector<char*> envp = c_strings(env_strings);

  auto gate = close_on_exec_pipe();
  if (!gate) return fail(gate.error());
  auto report = close_on_exec_pipe();
  if (!report) return fail(report.error());
  pid_t pid = ::fork();
  if (pid < 0) return fail_errno("fork");
  if (pid == 0) {
    gate->write_end = FileDescriptor();
    report->read_end = FileDescriptor();
    exec_in_child(plan, argv.data(), envp.data(), streams, gate->read_end.get(),
                  report->write_end.get());
  }
  gate->read_end = FileDescriptor();
  report->write_end = FileDescriptor();
  // Also set here, so a stop that comes before the child ran reaches the group.
  ::setpgid(pid, pid);
  if (Status held = before_exec(pid); !held) {
    gate->write_end = FileDescriptor();  // the child sees the end of the gate and exits
    ::waitpid(pid, nullptr, 0);
    return fail(held.error());
  }
  const char go = 1;
  [[maybe_unused]] ssize_t released = ::write(gate->write_end.get(), &go, 1);
  ChildFailure failure{};
  ssize_t n;
  do {
    n = ::read(report->read_end.get(), &failure, sizeof failure);
  } while (n < 0 && errno == EINTR);
  if (n == 0) return pid;
  ::waitpid(pid, nullptr, 0);
  if (n != static_cast<ssize_t>(sizeof failure)) return fail("child failed before exec");
  return fail(std::string(step_name(failure.step)) + ": " + std::strerror(failure.error),
              failure.error);
}

}  // namespace orv::service

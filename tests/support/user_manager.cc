#include "tests/support/user_manager.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace orv::test {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kUpWithin = std::chrono::seconds(10);
constexpr const char* kSystemctl = "/usr/bin/systemctl";
constexpr const char* kSystemd = "/lib/systemd/systemd";

// In the forked child: the private namespace, then the manager. A failure ends the child with
// its reason in the log, which run() reports.
[[noreturn]] void exec_manager(const std::string& program, const UserManager::Env& env,
                               const fs::path& log) {
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0 ||
      ::dup2(out, STDERR_FILENO) < 0)
    ::_exit(127);
  // A test or benchmark that crashes leaves no manager behind: it stops its units and exits.
  const bool isolated = ::prctl(PR_SET_PDEATHSIG, SIGTERM) == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  if (isolated) ::mkdir("/run/systemd", 0755);
  if (!isolated ||
      ::mount("tmpfs", "/run/systemd", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0 ||
      ::mkdir("/run/systemd/system", 0755) != 0) {
    std::perror("a private mount namespace with a tmpfs on /run/systemd");
    ::_exit(127);
  }
  for (const auto& [name, value] : env)
    ::setenv(name.c_str(), value.c_str(), 1);
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");  // the caller's session bus is not this manager's
  ::execl(program.c_str(), "systemd", "--user", static_cast<char*>(nullptr));
  std::perror(program.c_str());
  ::_exit(127);
}

}  // namespace

Result<std::unique_ptr<UserManager>> UserManager::start(const UnitFiles& units) {
  if (::geteuid() != 0) return fail("a user manager of a test's own needs root", EPERM);
  if (run_process({"/usr/bin/unshare", "--mount", "/bin/true"}).status != 0)
    return fail("this process may not make a private mount namespace", EPERM);
  std::string pattern = (fs::temp_directory_path() / "orvane-user-manager-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return fail_errno("mkdtemp");
  std::unique_ptr<UserManager> manager(new UserManager(pattern));
  if (auto started = manager->run(units); !started) return fail(started.error());
  return manager;
}

Status UserManager::run(const UnitFiles& units) {
  if (::access(kSystemd, X_OK) != 0) return fail_errno(kSystemd);
  const fs::path unit_dir = home() / ".config/systemd/user";
  fs::create_directories(unit_dir);
  fs::create_directory(runtime_dir());
  fs::permissions(runtime_dir(), fs::perms::owner_all);
  for (const auto& [name, contents] : units)
    std::ofstream(unit_dir / name) << contents;

  pid_ = ::fork();
  if (pid_ == 0) exec_manager(kSystemd, env(), dir_ / "manager.log");
  if (pid_ < 0) return fail_errno("fork");
  // Outside the namespace systemctl sees no booted systemd and cannot wait itself, so this
  // asks the manager's state until its start-up is over ("degraded" is up too: a unit of the
  // test's own may fail on purpose). A manager that does not come up is ended with this object.
  std::string state;
  for (auto deadline = Clock::now() + kUpWithin; Clock::now() < deadline;) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    state = systemctl({"show", "--property=SystemState", "--value"}).out;
    if (state == "running\n" || state == "degraded\n") return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ostringstream log;
  log << std::ifstream(dir_ / "manager.log").rdbuf();
  return fail("the user manager did not come up (state \"" + state + "\"):\n" + log.str());
}

UserManager::~UserManager() {
  if (pid_ > 0) {
    systemctl({"exit"});
    auto deadline = Clock::now() + kUpWithin;
    while (::waitpid(pid_, nullptr, WNOHANG) != pid_) {
      if (Clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string UserManager::address() const {
  return "unix:path=" + (runtime_dir() / "systemd/private").string();
}

UserManager::Env UserManager::env() const {
  return {{"HOME", home().string()}, {"XDG_RUNTIME_DIR", runtime_dir().string()}};
}

ProcessResult UserManager::systemctl(std::vector<std::string> args) const {
  args.insert(args.begin(), {kSystemctl, "--user"});
  return run_process(args, env());
}

}  // namespace orv::test

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
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/fs/file_descriptor.h"

namespace orv::test {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kUpWithin = std::chrono::seconds(10);
constexpr const char* kSystemctl = "/usr/bin/systemctl";

std::optional<std::string> systemd_program() {
  for (const char* path : {"/lib/systemd/systemd", "/usr/lib/systemd/systemd"})
    if (::access(path, X_OK) == 0) return path;
  return std::nullopt;
}

[[noreturn]] void report_and_exit(int report, int code) {
  (void)!::write(report, &code, sizeof code);
  ::_exit(127);
}

// In the forked child: the private namespace, then the manager. A failure before the exec writes
// its errno to `report`, which the exec closes otherwise.
[[noreturn]] void exec_manager(const std::string& program, const UserManager::Env& env,
                               const fs::path& log, int report) {
  auto fail = [report](int code) { report_and_exit(report, code); };
  // A test or benchmark that crashes leaves no manager behind: it stops its units and exits.
  if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) fail(errno);
  if (::unshare(CLONE_NEWNS) != 0) fail(errno);
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail(errno);
  ::mkdir("/run/systemd", 0755);
  if (::mount("tmpfs", "/run/systemd", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0)
    fail(errno);
  if (::mkdir("/run/systemd/system", 0755) != 0) fail(errno);
  int in = ::open("/dev/null", O_RDONLY);
  int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) fail(errno);
  ::dup2(in, STDIN_FILENO);
  ::dup2(out, STDOUT_FILENO);
  ::dup2(out, STDERR_FILENO);
  for (const auto& [name, value] : env)
    ::setenv(name.c_str(), value.c_str(), 1);
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");  // the caller's session bus is not this manager's
  ::execl(program.c_str(), "systemd", "--user", static_cast<char*>(nullptr));
  report_and_exit(report, errno);
}

}  // namespace

Result<std::unique_ptr<UserManager>> UserManager::start(const UnitFiles& units) {
  if (::geteuid() != 0) return fail("a user manager of a test's own needs root", EPERM);
  std::string pattern = (fs::temp_directory_path() / "orvane-user-manager-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return fail_errno("mkdtemp");
  std::unique_ptr<UserManager> manager(new UserManager(pattern));
  if (auto started = manager->run(units); !started) return fail(started.error());
  return manager;
}

Status UserManager::run(const UnitFiles& units) {
  auto program = systemd_program();
  if (!program) return fail("systemd is not installed", ENOENT);
  const fs::path unit_dir = home() / ".config/systemd/user";
  fs::create_directories(unit_dir);
  fs::create_directory(runtime_dir());
  fs::permissions(runtime_dir(), fs::perms::owner_all);
  for (const auto& [name, contents] : units)
    std::ofstream(unit_dir / name) << contents;

  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return fail_errno("pipe2");
  FileDescriptor report(ends[0]), child_end(ends[1]);
  pid_ = ::fork();
  if (pid_ == 0) exec_manager(*program, env(), dir_ / "manager.log", child_end.get());
  child_end = FileDescriptor();
  int code = 0;
  const bool failed = ::read(report.get(), &code, sizeof code) == sizeof code;
  if (pid_ < 0) return fail_errno("fork");
  if (failed) {
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return fail_errno("a private mount namespace with a tmpfs on /run/systemd", code);
  }

  const fs::path socket = runtime_dir() / "systemd/private";
  for (auto deadline = Clock::now() + kUpWithin; !fs::exists(socket);) {
    const bool exited = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
    if (exited || Clock::now() > deadline) {
      if (!exited) ::kill(pid_, SIGKILL);
      if (!exited) ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      std::ifstream log(dir_ / "manager.log");
      std::ostringstream text;
      text << log.rdbuf();
      return fail("the user manager did not come up:\n" + text.str());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Outside the namespace systemctl sees no booted systemd and cannot wait itself, so this
  // asks the manager's state until its start-up is over ("degraded" is up too: a unit of the
  // test's own may fail on purpose).
  std::string state;
  for (auto deadline = Clock::now() + kUpWithin; Clock::now() < deadline;) {
    state = systemctl({"show", "--property=SystemState", "--value"}).out;
    if (state == "running\n" || state == "degraded\n") return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return fail("the user manager stays " + state);
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

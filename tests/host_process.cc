#include "tests/host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/fs/file_descriptor.h"

namespace orv::test {

namespace {

[[noreturn]] void exec_child(const std::vector<std::string>& argv,
                             const std::vector<std::pair<std::string, std::string>>& env,
                             int out_fd, int err_fd) {
  dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
  dup2(out_fd, STDOUT_FILENO);
  dup2(err_fd, STDERR_FILENO);
  for (const auto& [name, value] : env)
    setenv(name.c_str(), value.c_str(), 1);
  std::vector<char*> args;
  for (const auto& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

// The output lands in memory files, read back through /proc once the child is gone, so nothing
// waits on pipes that a daemon the child started may still hold.
std::string contents(const FileDescriptor& file) {
  std::ifstream in("/proc/self/fd/" + std::to_string(file.get()), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::pair<std::string, std::string>>& env,
                          int timeout_seconds) {
  FileDescriptor out(memfd_create("out", MFD_CLOEXEC));
  FileDescriptor err(memfd_create("err", MFD_CLOEXEC));
  pid_t pid = fork();
  if (pid == 0) exec_child(argv, env, out.get(), err.get());
  FileDescriptor exited(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  pollfd wait_exit{exited.get(), POLLIN, 0};
  if (poll(&wait_exit, 1, timeout_seconds * 1000) != 1) kill(pid, SIGKILL);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  ProcessResult result{.out = contents(out), .err = contents(err)};
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  return result;
}

}  // namespace orv::test

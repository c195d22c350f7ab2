// orvaned-exec: see job_starter.h. A fresh single-threaded process, so every call is safe here.
#include <fcntl.h>
#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "orvaned/job_starter.h"

extern char** environ;

namespace {

using orv::service::StartFailure;
using orv::service::StartStep;

[[noreturn]] void fail(StartStep step) {
  StartFailure failure{step, errno};
  [[maybe_unused]] ssize_t written =
      ::write(orv::service::kStarterReportFd, &failure, sizeof failure);
  ::_exit(127);
}

void wait_at_gate() {
  char go = 0;
  ssize_t n;
  do {
    n = ::read(orv::service::kStarterGateFd, &go, 1);
  } while (n < 0 && errno == EINTR);
  if (n != 1) ::_exit(127);
  ::close(orv::service::kStarterGateFd);
}

// "uid:gid,group,group...": the service looked the account up; the starter only applies it.
void become(const char* identity) {
  char* end = nullptr;
  auto uid = static_cast<uid_t>(std::strtoul(identity, &end, 10));
  auto gid = static_cast<gid_t>(std::strtoul(end + 1, &end, 10));
  std::vector<gid_t> groups;
  while (*end != '\0')
    groups.push_back(static_cast<gid_t>(std::strtoul(end + 1, &end, 10)));
  if (::setgroups(groups.size(), groups.data()) != 0) fail(StartStep::Groups);
  if (::setgid(gid) != 0) fail(StartStep::Gid);
  if (::setuid(uid) != 0) fail(StartStep::Uid);
}

}  // namespace

int main(int argc, char** argv) {
  // The report must close when the job's program starts: that is how the service sees it start.
  if (::fcntl(orv::service::kStarterReportFd, F_SETFD, FD_CLOEXEC) != 0) fail(StartStep::Starter);
  if (argc <= orv::service::kStarterJobArgv) {
    errno = EINVAL;
    fail(StartStep::Starter);
  }
  wait_at_gate();
  if (argv[3][0] != '\0') become(argv[3]);
  if (argv[2][0] != '\0' && ::chdir(argv[2]) != 0) fail(StartStep::Chdir);
  // Descriptors the service let through by mistake must not reach the job either.
  ::close_range(orv::service::kStarterReportFd + 1, ~0U, CLOSE_RANGE_CLOEXEC);
  ::execve(argv[1], argv + orv::service::kStarterJobArgv, environ);
  fail(StartStep::Exec);
}

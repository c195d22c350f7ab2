// orvaned: the control service. Answers the messaging center "msgport.orvane" on the server's
// threads for one backend. With the job directories, it loads the job files under the root,
// starts the RunAtLoad jobs, and on the main thread waits for signals: SIGCHLD reaps exited jobs
// (and schedules KeepAlive restarts), and SIGTERM, SIGINT or SIGHUP stop every job, remove the
// socket and exit 0. With systemd, the units are the manager's and stay as they are at exit.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "orvane_version.h"
#include "orvaned/job_file.h"
#include "orvaned/job_ledger.h"
#include "orvaned/log.h"
#include "orvaned/options.h"
#include "orvaned/peer_admission.h"
#include "orvaned/request_handlers.h"
#include "orvaned/supervisor.h"
#include "orvaned/systemd_backend.h"
#include "platform/fs/file_descriptor.h"
#include "platform/ipc/messaging_center.h"

namespace {

using namespace orv::service;
using Clock = Supervisor::Clock;

// In the run directory, beside the socket.
constexpr const char* kLedgerName = "orvaned.jobs";

sigset_t handled_signals() {
  sigset_t set;
  ::sigemptyset(&set);
  for (int sig : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
    ::sigaddset(&set, sig);
  return set;
}

// Blocked before any thread exists, so every server thread inherits the mask and the signals
// reach only the main thread's signalfd.
int take_over_signals() {
  sigset_t set = handled_signals();
  ::sigprocmask(SIG_BLOCK, &set, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  return ::signalfd(-1, &set, SFD_CLOEXEC);
}

void apply_environment(const Options& options) {
  if (options.root) ::setenv("ORVANE_ROOT", options.root->c_str(), 1);
  if (options.runtime_dir) ::setenv("ORVANE_RUNTIME_DIR", options.runtime_dir->c_str(), 1);
}

int poll_timeout_ms(const Supervisor& supervisor) {
  constexpr int kIdleWakeMs = 1000;
  auto next = supervisor.next_restart();
  if (!next) return kIdleWakeMs;
  auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(wait, 0, kIdleWakeMs));
}

// Returns when a termination signal arrives.
void supervise_until_terminated(Supervisor& supervisor, int signal_fd) {
  while (true) {
    struct pollfd pfd {
      signal_fd, POLLIN, 0
    };
    int ready = ::poll(&pfd, 1, poll_timeout_ms(supervisor));
    if (ready < 0 && errno != EINTR) return;
    bool terminate = false;
    struct signalfd_siginfo info {};
    while (ready > 0 && ::read(signal_fd, &info, sizeof info) == sizeof info) {
      if (info.ssi_signo != SIGCHLD) terminate = true;
      pollfd again{signal_fd, POLLIN, 0};
      ready = ::poll(&again, 1, 0);
    }
    supervisor.reap_exited_children();
    if (terminate) return;
    supervisor.start_due_restarts();
  }
}

// Returns when a termination signal arrives (true) or the other descriptor becomes readable.
bool wait_until_terminated(int signal_fd, int other_fd) {
  struct signalfd_siginfo info {};
  while (true) {
    struct pollfd fds[2] = {{signal_fd, POLLIN, 0}, {other_fd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return true;
    if (fds[1].revents) return false;
    if (fds[0].revents && ::read(signal_fd, &info, sizeof info) == sizeof info &&
        info.ssi_signo != SIGCHLD)
      return true;
  }
}

// Serves the backend on the socket; false (logged) when it cannot.
bool serve(orv::MessagingCenterServer& server, PeerAdmission& admission, JobBackend& backend,
           const std::filesystem::path& socket) {
  server.set_peer_filter([&admission](uid_t uid, gid_t gid) { return admission.admits(uid, gid); });
  const PeerAdmission::SocketAccess access = admission.socket_access();
  server.set_socket_access(access.mode, access.group);
  server.set_log(log_line);
  register_request_handlers(server, backend);
  if (orv::Status started = server.start(); !started) {
    log_line("cannot serve on " + socket.string() + ": " + started.error().message);
    return false;
  }
  log_line("serving " + std::string(orv::kControlServiceCenterName) + " on " + socket.string());
  return true;
}

int run_jobs(const Options& options, int signal_fd, const std::filesystem::path& socket) {
  // Processes that a job leaves behind are re-parented to the service, which reaps them, so a
  // stop can wait until nothing of the job's process group is left.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  orv::Result<JobLedger> ledger = JobLedger::open(socket.parent_path() / kLedgerName);
  if (!ledger) {
    log_line("cannot keep the job ledger: " + ledger.error().message);
    return 1;
  }
  Supervisor supervisor(load_jobs(), {options.throttle, options.stop_timeout}, std::move(*ledger));
  supervisor.end_jobs_left_by_earlier_run();
  supervisor.start_run_at_load_jobs();

  orv::MessagingCenterServer server(socket);
  PeerAdmission admission(options.allowed_uids, options.allowed_gids);
  if (!serve(server, admission, supervisor, socket)) {
    supervisor.stop_all();
    return 1;
  }
  supervise_until_terminated(supervisor, signal_fd);
  server.stop();
  supervisor.stop_all();
  return 0;
}

// The units are the manager's: they keep running when the service ends.
int run_systemd(const Options& options, int signal_fd, const std::filesystem::path& socket) {
  SystemdBackend backend({options.bus, options.protected_units, options.job_timeout});
  if (orv::Status started = backend.start(); !started) {
    log_line("cannot use the systemd manager on the " + options.bus +
             " bus: " + started.error().message);
    return 1;
  }
  orv::MessagingCenterServer server(socket);
  PeerAdmission admission(options.allowed_uids, options.allowed_gids);
  if (!serve(server, admission, backend, socket)) return 1;
  // Without the connection the list would go stale; the service ends so that its own
  // supervisor starts it again.
  const bool terminated = wait_until_terminated(signal_fd, backend.lost_fd());
  server.stop();
  return terminated ? 0 : 1;
}

int run(const Options& options) {
  apply_environment(options);
  orv::FileDescriptor signal_fd(take_over_signals());
  if (!signal_fd.valid()) {
    log_line(std::string("signalfd: ") + std::strerror(errno));
    return 1;
  }
  std::filesystem::path socket = orv::center_socket_path(orv::kControlServiceCenterName);
  std::error_code ec;
  std::filesystem::create_directories(socket.parent_path(), ec);
  int status = options.backend == Backend::Systemd ? run_systemd(options, signal_fd.get(), socket)
                                                   : run_jobs(options, signal_fd.get(), socket);
  if (status == 0) log_line("stopped");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  orv::Result<Options> options = parse_options(argc, argv);
  if (!options) {
    // The message quotes the argument as given, which may hold anything a shell can pass.
    std::fprintf(stderr, "orvaned: %s\nTry 'orvaned --help'.\n",
                 escaped(options.error().message).c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(usage_text(), stdout);
    return 0;
  }
  if (options->version) {
    std::printf("orvaned %s\n", orv::kVersion);
    return 0;
  }
  return run(*options);
}

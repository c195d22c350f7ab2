// orvaned as a running process: job listing, start and stop, KeepAlive restarts, clients
// answered while stops wait, a restart after a kill, termination, and stalled peers.
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>

#include "platform/ipc/socket_io.h"
#include "tests/orvaned_fixture.h"

namespace orv::test {
namespace {

using namespace std::chrono_literals;

TEST_F(OrvanedTest, ListsEveryUsableJobOnceSystemJobsFirstThenByLabel) {
  write_job("org.b", {{"ProgramArguments", sleeper()}, {"UserName", "nobody"}});
  write_job("org.a",
            {{"Program", "/bin/true"}, {"KeepAlive", Dictionary{{"SuccessfulExit", false}}}});
  write_job("com.z", {{"ProgramArguments", sleeper()}, {"RunAtLoad", true}}, kSystemJobs);
  // Unusable files are skipped: no label, no program, not a property list, a second "org.a".
  write_file(root_.real("/Library/LaunchDaemons/nolabel.plist"),
             "<plist><dict><key>Program</key><string>/bin/true</string></dict></plist>");
  write_job("org.noprogram", {{"RunAtLoad", true}});
  write_file(root_.real("/Library/LaunchDaemons/broken.plist"), "not a plist");
  write_job("zz-second", {{"Label", "org.a"}, {"Program", "/bin/false"}});
  start_daemon();

  Array records = list_all();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1]["Label"], Value("org.a"));
  EXPECT_EQ(records[2]["Label"], Value("org.b"));

  const Value& z = records[0];
  EXPECT_TRUE(process_exists(z["Pid"].read_int32()));
  EXPECT_EQ(z, Value(Dictionary{{"Label", "com.z"},
                                {"Type", 10},
                                {"Pid", z["Pid"]},
                                {"Plist", "/System/Library/LaunchDaemons/com.z.plist"},
                                {"RunAtLoad", true},
                                {"KeepAlive", false},
                                {"ProgramArguments", sleeper()}}));
  EXPECT_EQ(records[1]["Type"], Value(0));
  EXPECT_EQ(records[1]["Pid"], Value(-1));
  EXPECT_EQ(records[1]["KeepAlive"], Value(Dictionary{{"SuccessfulExit", false}}));
  EXPECT_EQ(records[2]["User"], Value("nobody"));
}

TEST_F(OrvanedTest, StartsAndStopsJobsOnRequestAndRefusesWhatItCannot) {
  write_job(
      "org.job",
      {{"ProgramArguments", sleeper()}, {"UserName", "nobody"}, {"WorkingDirectory", "/tmp"}});
  write_job("org.nouser", {{"ProgramArguments", sleeper()}, {"UserName", "no-such-user-xyz"}});
  start_daemon();

  EXPECT_EQ(start_one("org.job", true), 0);
  pid_t pid = pid_of("org.job");
  EXPECT_TRUE(process_exists(pid));
  // As its user where the service may switch users, in its directory, leading its own group.
  EXPECT_EQ(proc_status_number(pid, "Uid"),
            ::geteuid() == 0 ? ::getpwnam("nobody")->pw_uid : ::geteuid());
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd"), "/tmp");
  EXPECT_EQ(::getpgid(pid), pid);
  EXPECT_EQ(start_one("org.job", true), 0) << "starting a running job succeeds";
  EXPECT_EQ(pid_of("org.job"), pid) << "without a second process";

  EXPECT_EQ(start_one("org.job", false), 0);
  EXPECT_EQ(pid_of("org.job"), -1) << "the reply comes once the job has stopped";
  EXPECT_FALSE(process_exists(pid));
  EXPECT_EQ(start_one("org.job", false), 0) << "stopping a stopped job succeeds";

  // A missing program is refused in the log's test.
  EXPECT_LT(start_one("org.nouser", true), 0);
  EXPECT_EQ(pid_of("org.nouser"), -1);
  EXPECT_LT(start_one("org.unknown", true), 0);
  EXPECT_LT(send("startOne", Dictionary{{"isStart", true}, {"flag", 0}})["status"].read_int32(), 0);
  EXPECT_LT(send("startOne")["status"].read_int32(), 0) << "no request dictionary at all";
}

TEST_F(OrvanedTest, KeepAliveRestartsAfterTheThrottleAndAStopSticks) {
  write_job("org.flaky", {{"ProgramArguments", Array{"/bin/sh", "-c", "sleep 0.1"}},
                          {"RunAtLoad", true},
                          {"KeepAlive", true}});
  write_job("org.once", {{"ProgramArguments", Array{"/bin/sh", "-c", "exit 0"}},
                         {"RunAtLoad", true},
                         {"KeepAlive", Dictionary{{"SuccessfulExit", false}}}});
  // Runs until stopped, so a restart after the stop would still be running when looked at.
  write_job("org.kept",
            {{"ProgramArguments", sleeper()}, {"RunAtLoad", true}, {"KeepAlive", true}});
  auto started = std::chrono::steady_clock::now();
  start_daemon();
  pid_t first = pid_of("org.flaky");
  ASSERT_TRUE(eventually([&] {
    pid_t now = pid_of("org.flaky");
    return now > 0 && now != first;
  })) << "a KeepAlive job that exits comes back";
  EXPECT_GE(std::chrono::steady_clock::now() - started, 450ms) << "but not before the throttle";
  const auto flaky = log_lines(read_log("org.flaky"));
  ASSERT_GE(flaky.size(), 4u);
  EXPECT_EQ(flaky[1], "service exited with status 0");
  EXPECT_TRUE(flaky[2].starts_with("service restart throttled: next start in 0.")) << flaky[2];
  EXPECT_EQ(pid_of("org.once"), -1)
      << "a successful exit does not restart a SuccessfulExit=false job";

  EXPECT_EQ(start_one("org.kept", false), 0);
  std::this_thread::sleep_for(800ms);  // past the throttle: nothing to wait for when it sticks
  EXPECT_EQ(pid_of("org.kept"), -1) << "a stopped KeepAlive job stays stopped";
  EXPECT_EQ(start_one("org.kept", true), 0);
  EXPECT_GT(pid_of("org.kept"), 0);
}

TEST_F(OrvanedTest, AnswersOtherClientsWhileStopsWaitForAJobThatIgnoresTerm) {
  // The job says when its trap is set and when a TERM came.
  std::string marks = root_.path() / "mark-";
  write_job("org.stubborn",
            {{"ProgramArguments", Array{"/bin/sh", "-c",
                                        "trap 'touch " + marks + "term' TERM; touch " + marks +
                                            "ready; while :; do sleep 100000 & wait; done"}},
             {"RunAtLoad", true}});
  write_job("org.other", {{"ProgramArguments", sleeper()}});
  start_daemon({"--stop-timeout", "20"});
  pid_t stubborn = pid_of("org.stubborn");
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(marks + "ready"); }));

  // Two stops of the same job, each on a connection of its own.
  std::vector<std::jthread> stops;
  std::atomic<int> stopped = 0;
  for (int i = 0; i < 2; ++i) {
    stops.emplace_back([&] {
      CPDistributedMessagingCenter other("msgport.orvane");
      Value reply = other.sendMessageAndReceiveReplyName(
          "startOne", Dictionary{{"Label", "org.stubborn"}, {"isStart", false}, {"flag", 0}});
      if (reply["status"] == Value(0)) ++stopped;
    });
  }
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(marks + "term"); }));
  EXPECT_EQ(start_one("org.other", true), 0);
  EXPECT_EQ(pid_of("org.stubborn"), stubborn) << "answered while the stops still wait";

  ::kill(-stubborn, SIGKILL);
  stops.clear();  // joins
  EXPECT_EQ(stopped, 2);
  EXPECT_EQ(pid_of("org.stubborn"), -1);
}

TEST_F(OrvanedTest, AKilledServiceStartedAgainRunsEveryJobOnceAndTerminationStopsThemAll) {
  std::string at_load = sleeper_named("at-load");
  std::string by_request = sleeper_named("by-request");
  write_job(
      "com.at-load",
      {{"ProgramArguments", Array{at_load, "100000"}}, {"RunAtLoad", true}, {"KeepAlive", true}},
      kSystemJobs);
  write_job("org.by-request",
            {{"ProgramArguments", Array{"/bin/sh", "-c", by_request + " 100000 & wait"}}});
  start_daemon();
  ASSERT_EQ(start_one("org.by-request", true), 0);
  ASSERT_TRUE(eventually([&] { return processes_running(by_request) == 1; }));

  ::kill(daemon_, SIGKILL);  // no chance to stop its jobs
  end_process(daemon_);
  write_job("org.deaf", {{"ProgramArguments", Array{"/bin/sh", "-c", "trap '' TERM; sleep 100000"}},
                         {"RunAtLoad", true},
                         {"KeepAlive", true}});
  start_daemon();
  EXPECT_EQ(processes_running(at_load), 1);
  EXPECT_EQ(processes_running(by_request), 0)
      << "what the killed service ran is ended, as a clean stop would have";

  const pid_t deaf = pid_of("org.deaf");
  ASSERT_TRUE(process_exists(deaf));
  EXPECT_EQ(terminate_daemon(), 0);
  // org.deaf ignores SIGTERM in its shell: it is killed after the stop timeout.
  EXPECT_EQ(processes_running(at_load), 0);
  EXPECT_NE(::kill(-deaf, 0), 0) << "nothing of the job's process group is left";
  EXPECT_FALSE(std::filesystem::exists(socket_path()));
}

// A crowd of peers that connect and never finish a request: the service's memory stays bounded
// and a fresh client is still answered, also when it may open only a few descriptors.
// The header of a frame of the largest allowed size, 16 MiB.
constexpr std::uint8_t kHeaderOfLargestFrame[] = {1, 0, 0, 0};

// Sets this process's soft descriptor limit for the scope; children started meanwhile inherit it.
struct ScopedFileLimit {
  explicit ScopedFileLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit wanted{std::min(soft, saved.rlim_max), saved.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &wanted);
  }
  ~ScopedFileLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
  rlimit saved{};
};

class StalledPeersTest : public OrvanedTest {
 protected:
  // A connection that announced a frame and sent nothing of it (or nothing at all).
  void add_peer(bool send_header) {
    Result<FileDescriptor> peer = ipc::connect_unix(socket_path());
    ASSERT_TRUE(peer) << peer.error().message;
    if (send_header) {
      ASSERT_EQ(
          ::send(peer->get(), kHeaderOfLargestFrame, sizeof kHeaderOfLargestFrame, MSG_NOSIGNAL),
          4);
    }
    peers_.push_back(std::move(*peer));
  }
  bool fresh_client_answered() {
    CPDistributedMessagingCenter fresh{std::string(kControlServiceCenterName)};
    return !fresh.sendMessageAndReceiveReplyName("listAll").is_null();
  }

  ScopedEnv timeout_{"ORVANE_IPC_TIMEOUT_MS", "5000"};
  std::vector<FileDescriptor> peers_;
};

TEST_F(StalledPeersTest, AThousandAnnouncedFramesNeitherFillMemoryNorLockOutClients) {
  constexpr int kPeers = 1000;
  constexpr long kResidentLimitKib = 64 * 1024;
  ScopedFileLimit enough(kPeers + 100);
  if (enough.saved.rlim_max < kPeers + 100) GTEST_SKIP() << "the descriptor limit is too low";
  start_daemon();
  // A sanitized service starts larger and keeps freed buffers in quarantine; there the bound is
  // on what the peers add, and wider, still far below the 16 MiB per peer of a reserving server.
  const long limit_kib =
      kSanitized ? proc_status_number(daemon_, "VmRSS") + 4 * kResidentLimitKib : kResidentLimitKib;
  // Checked as the crowd grows, so a server that reserves memory per frame is caught long
  // before it fills the machine.
  for (int batch = 0; batch < kPeers / 25; ++batch) {
    for (int i = 0; i < 25; ++i)
      add_peer(true);
    ASSERT_TRUE(fresh_client_answered()) << "with " << peers_.size() << " stalled peers";
    ASSERT_LT(proc_status_number(daemon_, "VmRSS"), limit_kib)
        << "with " << peers_.size() << " peers";
  }
}

TEST_F(StalledPeersTest, AServiceShortOfDescriptorsKeepsAnswering) {
  {
    ScopedFileLimit few(64);  // inherited by the service
    start_daemon();
  }
  for (int i = 0; i < 100; ++i)
    add_peer(false);
  EXPECT_TRUE(fresh_client_answered());
}

}  // namespace
}  // namespace orv::test

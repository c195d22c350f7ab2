// "listAll" latency of a real orvaned (the built one, or $ORVANE_BENCH_ORVANED, on a temporary
// root), against the same round trip with nothing else under way:
// - while a stop waits for a job that ignores SIGTERM (30 jobs, one of which traps TERM). A stop
//   may take up to the stop timeout; other clients must not wait for it. Each timed run stops
//   that job from a second connection, times listAll round trips while the stop waits, then
//   kills the job so the stop ends, and starts it again for the next run;
// - with 5,000 jobs, right after a job was started (what a job's page does after its own
//   start), and from a new client a while after the last one (what each command does).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "platform/ipc/messaging_center.h"
#include "platform/plist/plist_file.h"
#include "platform/value/value.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kJobs = 30;
constexpr int kManyJobs = 5000;
constexpr const char* kStubborn = "org.bench.stubborn";

// Polls until the file exists; false after 10 s.
bool wait_for_file(const fs::path& path) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!fs::exists(path)) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class Service {
 public:
  explicit Service(int jobs) : jobs_(jobs) {
    char pattern[] = "/tmp/orvane-orvaned-bench-XXXXXX";
    root_ = ::mkdtemp(pattern);
    ::setenv("ORVANE_RUNTIME_DIR", (root_ / "run").c_str(), 1);
    client_ = std::make_unique<orv::CPDistributedMessagingCenter>("msgport.orvane");
    write_jobs();
    const char* program = std::getenv("ORVANE_BENCH_ORVANED");
    std::string orvaned = program ? program : ORVANED_PROGRAM;
    std::string root = root_, run = root_ / "run";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);         // a crashed benchmark leaves no service behind
      int quiet = ::open("/dev/null", O_WRONLY);  // its log lines would break up the table
      ::dup2(quiet, STDOUT_FILENO);
      ::dup2(quiet, STDERR_FILENO);
      ::execl(orvaned.c_str(), orvaned.c_str(), "--root", root.c_str(), "--runtime-dir",
              run.c_str(), "--stop-timeout", "300", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (list_all().is_null() && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ready_ = wait_for_file(mark("ready"));
  }
  ~Service() {
    if (pid_t stubborn = stubborn_pid(); stubborn > 0) ::kill(-stubborn, SIGKILL);
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    fs::remove_all(root_);
  }

  bool ready() const { return ready_; }
  // A "listAll" reply that lists every job.
  bool lists_all(const orv::Value& reply) const {
    return reply["data"].as_array().size() == static_cast<std::size_t>(jobs_);
  }
  orv::Value list_all() { return client_->sendMessageAndReceiveReplyName("listAll"); }
  void start_or_stop(const std::string& label, bool start) {
    client_->sendMessageAndReceiveReplyName(
        "startOne", orv::Dictionary{{"Label", label}, {"isStart", start}, {"flag", 0}});
  }
  std::int32_t stubborn_pid() {
    const orv::Value reply = list_all();
    for (const orv::Value& record : reply["data"].as_array())
      if (record["Label"] == orv::Value(kStubborn)) return record["Pid"].read_int32();
    return -1;
  }
  fs::path mark(const std::string& name) const { return root_ / ("mark-" + name); }
  bool start_stubborn() {
    fs::remove(mark("ready"));
    fs::remove(mark("term"));
    start_or_stop(kStubborn, true);
    return wait_for_file(mark("ready"));
  }

 private:
  void write_jobs() {
    const fs::path dir = root_ / "Library/LaunchDaemons";
    fs::create_directories(dir);
    const std::string script = "exec 2>/dev/null; trap 'touch " + mark("term").string() +
                               "' TERM; touch " + mark("ready").string() +
                               "; while :; do sleep 100000 & wait; done";
    write_job(dir, kStubborn,
              {{"ProgramArguments", orv::Array{"/bin/sh", "-c", script}}, {"RunAtLoad", true}});
    // The first 30 run; any beyond them are stopped until started.
    for (int i = 1; i < jobs_; ++i)
      write_job(
          dir, "org.bench.job" + std::to_string(i),
          {{"ProgramArguments", orv::Array{"/bin/sleep", "100000"}}, {"KeepAlive", i < kJobs}});
  }
  static void write_job(const fs::path& dir, const std::string& label, orv::Dictionary job) {
    job.set("Label", label);
    orv::write_plist_file_atomically(dir / (label + ".plist"), orv::Value(std::move(job)),
                                     orv::PlistFormat::Xml);
  }

  int jobs_;
  fs::path root_;
  pid_t pid_ = -1;
  bool ready_ = false;
  std::unique_ptr<orv::CPDistributedMessagingCenter> client_;
};

Service* service = nullptr;

void time_list_all(benchmark::State& state) {
  double slowest = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    orv::Value reply = service->list_all();
    slowest =
        std::max(slowest, std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (!service->lists_all(reply)) state.SkipWithError("no full answer");
  }
  state.counters["slowest_us"] = slowest;
}

void BM_ListAllIdle(benchmark::State& state) {
  time_list_all(state);
}
BENCHMARK(BM_ListAllIdle)->UseRealTime();

void BM_ListAllDuringSlowStop(benchmark::State& state) {
  const pid_t stubborn = service->stubborn_pid();
  if (stubborn <= 0) {
    state.SkipWithError("the stubborn job does not run");
    return;
  }
  std::atomic<bool> stop_answered = false;
  std::jthread stop([&] {
    orv::CPDistributedMessagingCenter other("msgport.orvane");
    other.sendMessageAndReceiveReplyName(
        "startOne", orv::Dictionary{{"Label", kStubborn}, {"isStart", false}, {"flag", 0}});
    stop_answered = true;
  });
  if (!wait_for_file(service->mark("term"))) state.SkipWithError("the stop sent no TERM");
  time_list_all(state);
  if (stop_answered) state.SkipWithError("the stop ended before the timed round trips did");
  ::kill(-stubborn, SIGKILL);
  stop.join();
  if (!service->start_stubborn()) state.SkipWithError("the stubborn job did not start again");
}
BENCHMARK(BM_ListAllDuringSlowStop)->UseRealTime();

// The steps before each timed round trip run outside the timing.
template <typename Before>
void time_list_all_after(benchmark::State& state, Before before) {
  for (auto _ : state) {
    state.PauseTiming();
    before();
    state.ResumeTiming();
    orv::Value reply = service->list_all();
    if (!service->lists_all(reply)) state.SkipWithError("no full answer");
  }
}

void BM_ManyJobsListAll(benchmark::State& state) {
  time_list_all_after(state, [] {});
}
BENCHMARK(BM_ManyJobsListAll)->UseRealTime()->Iterations(40);

void BM_ManyJobsListAllAfterAStart(benchmark::State& state) {
  time_list_all_after(state, [] {
    service->start_or_stop("org.bench.job1", false);
    service->start_or_stop("org.bench.job1", true);
  });
}
BENCHMARK(BM_ManyJobsListAllAfterAStart)->UseRealTime()->Iterations(40);

// What a user's commands do: each comes on a new connection, which the service serves on a
// thread of its own; here a stop and a start, a pause, then a list.
void BM_ManyJobsListAllFromANewClient(benchmark::State& state) {
  auto send = [](const char* name, orv::Dictionary request = {}) {
    orv::CPDistributedMessagingCenter client("msgport.orvane");
    return client.sendMessageAndReceiveReplyName(name, orv::Value(std::move(request)));
  };
  for (auto _ : state) {
    state.PauseTiming();
    for (bool start : {false, true})
      send("startOne", {{"Label", "org.bench.job1"}, {"isStart", start}, {"flag", 0}});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    state.ResumeTiming();
    if (!service->lists_all(send("listAll"))) state.SkipWithError("no full answer");
  }
}
BENCHMARK(BM_ManyJobsListAllFromANewClient)->UseRealTime()->Iterations(20);

// Runs the benchmarks named by `filter` against a service with `jobs` jobs.
bool run_with(int jobs, const std::string& filter) {
  Service running(jobs);
  if (!running.ready()) {
    std::fprintf(stderr, "orvaned_bench: the service or its stubborn job did not start\n");
    return false;
  }
  service = &running;
  // A reporter of its own for each run: the library's default one does not survive a second.
  benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter, filter);
  service = nullptr;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bool ran = run_with(kJobs, "BM_ListAll") && run_with(kManyJobs, "BM_ManyJobs");
  benchmark::Shutdown();
  return ran ? 0 : 1;
}

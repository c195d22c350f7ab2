// A 500-record "listAll" round trip through the messaging center (our client and server on a
// real socket, real property-list encoding and decoding) against a bare socket round trip of the
// same frames (an echo server that sends back pre-encoded bytes). The ratio is the cost of the
// messaging layer and the codec over the physical limit; the goal is at most 3. Also: how soon a
// fresh client is answered while 1,000 peers hold connections with a frame announced and never
// sent (goal: within 100 ms).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "bench/bare_round_trip.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/socket_io.h"

namespace {

using orv::bench::framed;

constexpr int kRecords = 500;

orv::Value daemon_records() {
  orv::Array records;
  for (int i = 0; i < kRecords; ++i) {
    const std::string label = "com.example.job" + std::to_string(i);
    records.emplace_back(orv::Dictionary{
        {"Label", label},
        {"Pid", i % 3 == 0 ? -1 : 1000 + i},
        {"Type", i % 2 == 0 ? 10 : 0},
        {"Plist", "/Library/LaunchDaemons/" + label + ".plist"},
        {"RunAtLoad", i % 2 == 0},
        {"KeepAlive", i % 5 == 0},
        {"ProgramArguments", orv::Array{"/usr/bin/sleep", "3600", "--tag=" + label}},
        {"User", "mobile"},
    });
  }
  return orv::Value(std::move(records));
}

std::filesystem::path bench_dir() {
  static const std::filesystem::path dir = [] {
    char pattern[] = "/tmp/orvane-ipc-bench-XXXXXX";
    return std::filesystem::path(::mkdtemp(pattern));
  }();
  return dir;
}

void BM_ListAllThroughMessagingCenter(benchmark::State& state) {
  ::setenv("ORVANE_RUNTIME_DIR", bench_dir().c_str(), 1);
  const orv::Value data = daemon_records();
  orv::MessagingCenterServer server(orv::center_socket_path("bench.listall"));
  server.register_handler("listAll", [&data](const orv::Value&) -> std::optional<orv::Value> {
    return orv::Value(orv::Dictionary{{"data", data}});
  });
  if (!server.start()) {
    state.SkipWithError("cannot start the server");
    return;
  }
  orv::CPDistributedMessagingCenter client("bench.listall");
  for (auto _ : state) {
    orv::Value reply = client.sendMessageAndReceiveReplyName("listAll");
    if (reply["data"].as_array().size() != kRecords) state.SkipWithError("short reply");
    benchmark::DoNotOptimize(reply);
  }
}
BENCHMARK(BM_ListAllThroughMessagingCenter)->UseRealTime();

void BM_BareSocketSameFrames(benchmark::State& state) {
  orv::bench::measure_bare_round_trip(
      state, framed(*orv::ipc::encode_request("listAll", orv::Value())),
      framed(orv::ipc::encode_reply(orv::Value(orv::Dictionary{{"data", daemon_records()}}))));
}
BENCHMARK(BM_BareSocketSameFrames)->UseRealTime();

// The codec's share of the round trip, measured alone.
void BM_EncodeListAllReply(benchmark::State& state) {
  const orv::Value reply(orv::Dictionary{{"data", daemon_records()}});
  for (auto _ : state)
    benchmark::DoNotOptimize(orv::ipc::encode_reply(reply));
}
BENCHMARK(BM_EncodeListAllReply)->UseRealTime();

void BM_DecodeListAllReply(benchmark::State& state) {
  const orv::Bytes payload =
      orv::ipc::encode_reply(orv::Value(orv::Dictionary{{"data", daemon_records()}}));
  for (auto _ : state)
    benchmark::DoNotOptimize(orv::ipc::decode_reply(payload));
}
BENCHMARK(BM_DecodeListAllReply)->UseRealTime();

// This process's resident size in MiB (server, clients and the benchmark together).
double resident_mib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024;
  return 0;
}

// A connection that announced a frame of the largest size and sends nothing more.
orv::FileDescriptor stalled_peer(const std::filesystem::path& socket) {
  constexpr std::uint8_t kHeaderOfLargestFrame[] = {1, 0, 0, 0};
  orv::Result<orv::FileDescriptor> peer = orv::ipc::connect_unix(socket);
  if (!peer) return orv::FileDescriptor();
  (void)!::send(peer->get(), kHeaderOfLargestFrame, sizeof kHeaderOfLargestFrame, MSG_NOSIGNAL);
  return std::move(*peer);
}

// Each round trip is a new client's first request. Before each, one more stalled peer takes
// the place of the oldest, so the server always faces the whole crowd.
void BM_FreshClientAmongStalledPeers(benchmark::State& state) {
  constexpr std::size_t kStalledPeers = 1000;
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = std::min<rlim_t>(files.rlim_max, 2 * kStalledPeers + 100);
  if (::setrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur < kStalledPeers + 100) {
    state.SkipWithError("the descriptor limit is too low");
    return;
  }
  ::setenv("ORVANE_RUNTIME_DIR", bench_dir().c_str(), 1);
  orv::MessagingCenterServer server(orv::center_socket_path("bench.crowd"));
  server.set_log([](std::string_view) {});
  server.register_handler("listAll", [](const orv::Value&) -> std::optional<orv::Value> {
    return orv::Value(orv::Dictionary{{"data", orv::Array{}}});
  });
  if (!server.start()) {
    state.SkipWithError("cannot start the server");
    return;
  }
  std::vector<orv::FileDescriptor> peers(kStalledPeers);
  for (orv::FileDescriptor& peer : peers)
    peer = stalled_peer(server.socket_path());
  std::size_t next = 0;
  for (auto _ : state) {
    state.PauseTiming();
    peers[next] = stalled_peer(server.socket_path());
    next = (next + 1) % kStalledPeers;
    state.ResumeTiming();
    orv::CPDistributedMessagingCenter fresh("bench.crowd");
    if (fresh.sendMessageAndReceiveReplyName("listAll").is_null()) state.SkipWithError("no reply");
  }
  state.counters["resident_MiB"] = resident_mib();
}
BENCHMARK(BM_FreshClientAmongStalledPeers)->UseRealTime()->Unit(benchmark::kMillisecond);

// Prints the usual table, then the ratio of the two round trips.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions, the median replaces the single runs.
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
        times_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double ours = times_["BM_ListAllThroughMessagingCenter"];
    const double bare = times_["BM_BareSocketSameFrames"];
    if (ours > 0 && bare > 0)
      std::printf("listAll round trip / bare socket round trip = %.2f (goal <= 3)\n", ours / bare);
    if (const double crowd = times_["BM_FreshClientAmongStalledPeers"]; crowd > 0)
      std::printf("fresh client among 1000 stalled peers: %.3f ms (goal <= 100 ms)\n", crowd);
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::filesystem::remove_all(bench_dir());
  return 0;
}

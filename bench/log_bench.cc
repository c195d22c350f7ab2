// A job's log: the last 1,000 of 100,000 stored lines through the "log" request (our client and
// server on a real socket, the real handler, the job directories' log store, property-list
// encoding and decoding), against baselines measured in the same run: the same reply's encoding
// and decoding alone, and a "log" request of one line (the request's fixed cost). The goal is
// under 20 ms for the 1,000 lines. Lines are 50 bytes, as a web server's access log's are.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "orvaned/log_store.h"
#include "orvaned/request_handlers.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/messaging_center.h"

namespace {

using namespace orv::service;

constexpr std::size_t kStoredLines = 100'000;
constexpr std::int64_t kAskedLines = 1'000;

// One job with a full log; nothing else.
class StoredLog final : public JobBackend {
 public:
  StoredLog() {
    for (std::size_t i = 0; i < kStoredLines; ++i) {
      char text[64];
      std::snprintf(text, sizeof text, "GET /static/app-%06zu.js HTTP/1.1 200 5123 0.004s", i);
      store_.append(i % 10 == 0 ? LogStream::Err : LogStream::Out, text);
    }
  }
  orv::Array records() const override { return {}; }
  JobStatus start_job(std::string_view) override { return JobStatus::Ok; }
  JobStatus stop_job(std::string_view) override { return JobStatus::Ok; }
  LogPage read_log(const LogQuery& query) const override {
    return store_.page(query.lines, query.after);
  }
  std::size_t stored() const { return store_.size(); }

 private:
  LogStore store_;
};

StoredLog& backend() {
  static StoredLog log;
  return log;
}

orv::Value query(std::int64_t lines) {
  return orv::Value(orv::Dictionary{{"Label", "org.bench.web"}, {"lines", lines}});
}

orv::CPDistributedMessagingCenter& client() {
  static const bool served = [] {
    char pattern[] = "/tmp/orvane-log-bench-XXXXXX";
    ::setenv("ORVANE_RUNTIME_DIR", ::mkdtemp(pattern), 1);
    static orv::MessagingCenterServer server(orv::center_socket_path("bench.log"));
    register_request_handlers(server, backend());
    return server.start().has_value();
  }();
  static orv::CPDistributedMessagingCenter center("bench.log");
  if (!served) std::fprintf(stderr, "log_bench: cannot start the server\n");
  return center;
}

void round_trip(benchmark::State& state, std::int64_t lines) {
  for (auto _ : state) {
    orv::Value reply = client().sendMessageAndReceiveReplyName("log", query(lines));
    if (reply["entries"].as_array().size() != static_cast<std::size_t>(lines))
      state.SkipWithError("short reply");
    benchmark::DoNotOptimize(reply);
  }
}

void BM_LastThousandOfHundredThousandThroughRequest(benchmark::State& state) {
  round_trip(state, kAskedLines);
}
BENCHMARK(BM_LastThousandOfHundredThousandThroughRequest)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_OneLineThroughRequest(benchmark::State& state) {
  round_trip(state, 1);
}
BENCHMARK(BM_OneLineThroughRequest)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_StoreAndHandlerAlone(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(handle_log(backend(), query(kAskedLines)));
}
BENCHMARK(BM_StoreAndHandlerAlone)->Unit(benchmark::kMicrosecond);

void BM_EncodeAndDecodeTheReplyAlone(benchmark::State& state) {
  const orv::Value reply = handle_log(backend(), query(kAskedLines));
  for (auto _ : state) {
    orv::Bytes payload = orv::ipc::encode_reply(reply);
    benchmark::DoNotOptimize(orv::ipc::decode_reply(payload));
  }
}
BENCHMARK(BM_EncodeAndDecodeTheReplyAlone)->Unit(benchmark::kMicrosecond);

// The median of repeated timings, in milliseconds.
template <class Work>
double median_ms(Work work) {
  std::vector<double> times;
  for (int i = 0; i < 101; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::nth_element(times.begin(), times.begin() + 50, times.end());
  return times[50];
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (backend().stored() != kStoredLines) {
    std::fprintf(stderr, "log_bench: the store kept %zu lines, not %zu\n", backend().stored(),
                 kStoredLines);
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  const double request =
      median_ms([] { client().sendMessageAndReceiveReplyName("log", query(kAskedLines)); });
  const double codec = median_ms([] {
    benchmark::DoNotOptimize(
        orv::ipc::decode_reply(orv::ipc::encode_reply(handle_log(backend(), query(kAskedLines)))));
  });
  std::printf("\nlast 1,000 of %zu lines through the request: %.2f ms (goal < 20 ms: %s)\n",
              kStoredLines, request, request < 20 ? "met" : "not met");
  std::printf(
      "the same reply built, encoded and decoded without the socket: %.2f ms (request / "
      "that: %.2f)\n",
      codec, request / codec);
  benchmark::Shutdown();
  return 0;
}

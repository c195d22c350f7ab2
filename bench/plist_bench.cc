// Binary property-list speed against libplist on the same job records, in the same run:
// encode (Value -> bplist00) and decode (bplist00 -> Value, including freeing the tree), for
// 500 and 5,000 records. The summary prints libplist CPU time / ours (CPU time, since the
// machine may be shared); the goal is 5 or more.
#include <benchmark/benchmark.h>
#include <plist/plist.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "bench/free_allocation.h"
#include "platform/plist/binary_plist.h"

namespace {

using orv::Array;
using orv::Dictionary;
using orv::Value;

// Records shaped like the control service's "listAll" reply.
Value job_records(int count) {
  Array records;
  records.reserve(count);
  for (int i = 0; i < count; ++i) {
    const std::string label = "com.example.job" + std::to_string(i);
    records.push_back(Dictionary{
        {"Label", label},
        {"Pid", i % 3 == 0 ? -1 : 4000 + i},
        {"Type", i % 4 == 0 ? 10 : 0},
        {"Plist", "/Library/LaunchDaemons/" + label + ".plist"},
        {"RunAtLoad", i % 2 == 0},
        {"KeepAlive", i % 5 == 0},
        {"ProgramArguments", Array{"/bin/sleep", "1000"}},
        {"Program", "/bin/sleep"},
        {"User", "root"},
    });
  }
  return records;
}

// The same tree as libplist nodes (only the kinds job records use).
plist_t to_libplist(const Value& v) {
  if (const auto* s = v.if_string()) return plist_new_string(s->c_str());
  if (const auto* b = v.if_boolean()) return plist_new_bool(*b);
  if (const auto* i = v.if_integer()) return plist_new_uint(static_cast<std::uint64_t>(i->bits));
  if (v.is_array()) {
    plist_t array = plist_new_array();
    for (const Value& item : v.as_array())
      plist_array_append_item(array, to_libplist(item));
    return array;
  }
  plist_t dict = plist_new_dict();
  for (const auto& [key, value] : v.as_dictionary())
    plist_dict_set_item(dict, key.c_str(), to_libplist(value));
  return dict;
}

void BM_Encode_Ours(benchmark::State& state) {
  const Value records = job_records(static_cast<int>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(orv::encode_binary_plist(records));
}

void BM_Encode_Libplist(benchmark::State& state) {
  plist_t records = to_libplist(job_records(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(records, &bytes, &length);
    benchmark::DoNotOptimize(bytes);
    std::free(bytes);
  }
  plist_free(records);
}

void BM_Decode_Ours(benchmark::State& state) {
  const orv::Bytes bytes = *orv::encode_binary_plist(job_records(static_cast<int>(state.range(0))));
  for (auto _ : state)
    benchmark::DoNotOptimize(orv::decode_binary_plist(bytes));
}

// Ours with allocation and freeing costing nothing: how close any arena could bring it.
void BM_Decode_OursFreeAllocation(benchmark::State& state) {
  const orv::Bytes bytes = *orv::encode_binary_plist(job_records(static_cast<int>(state.range(0))));
  benchmark::DoNotOptimize(orv::decode_binary_plist(bytes));  // thread-local buffers from the heap
  for (auto _ : state) {
    FreeAllocation scope;
    benchmark::DoNotOptimize(orv::decode_binary_plist(bytes));
  }
}

void BM_Decode_Libplist(benchmark::State& state) {
  const orv::Bytes bytes = *orv::encode_binary_plist(job_records(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    plist_t root = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::uint32_t>(bytes.size()), &root);
    benchmark::DoNotOptimize(root);
    plist_free(root);
  }
}

BENCHMARK(BM_Encode_Ours)->Arg(500)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Encode_Libplist)->Arg(500)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode_Ours)->Arg(500)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode_OursFreeAllocation)->Arg(500)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode_Libplist)->Arg(500)->Arg(5000)->Unit(benchmark::kMicrosecond);

// Keeps each run's time per iteration so the summary can compare the two codecs.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }

  void print_ratios() const {
    std::printf("\nlibplist CPU time / our CPU time (goal >= 5):\n");
    for (const char* op : {"Encode", "Decode"}) {
      for (const char* n : {"500", "5000"}) {
        const auto ours = times_.find(std::string("BM_") + op + "_Ours/" + n);
        const auto theirs = times_.find(std::string("BM_") + op + "_Libplist/" + n);
        if (ours == times_.end() || theirs == times_.end()) continue;
        std::printf("  %s %5s records: %6.1fx\n", op, n, theirs->second / ours->second);
      }
    }
    std::printf("with allocation and freeing free (the bound for any arena):\n");
    for (const char* n : {"500", "5000"}) {
      const auto free = times_.find(std::string("BM_Decode_OursFreeAllocation/") + n);
      const auto theirs = times_.find(std::string("BM_Decode_Libplist/") + n);
      if (free == times_.end() || theirs == times_.end()) continue;
      std::printf("  Decode %5s records: %6.1fx\n", n, theirs->second / free->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  benchmark::Shutdown();
  return 0;
}

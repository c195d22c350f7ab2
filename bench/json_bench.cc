// JSON conversion speed against the libraries' own work on the same documents:
//   json_2_ns (parse + build Values)  vs  simdjson's DOM parse alone (goal: at least 60%)
//   ns_2_json (Values -> text)        vs  RapidJSON's Writer on its own document (goal: >= 100%)
// Three generated documents (object-, number- and string-heavy, about 1 MB each) are always
// measured; citm_catalog.json and canada.json are added when the shared data is present.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/free_allocation.h"
#include "platform/json/json.h"
#include "services/json_text.h"

namespace {

using orv::Array;
using orv::Dictionary;
using orv::Value;

// Deterministic pseudo-random numbers, so every run measures the same documents.
class Lcg {
 public:
  std::uint64_t next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return state_ >> 11;
  }
  double unit() { return static_cast<double>(next()) / 9007199254740992.0; }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }

 private:
  std::uint64_t state_ = 42;
};

Value object_heavy_document() {
  Lcg rng;
  Array jobs;
  for (int i = 0; i < 3500; ++i) {
    std::string label = "com.example.service" + std::to_string(i);
    jobs.push_back(Value(Dictionary{
        {"Label", Value(label)},
        {"Pid", Value(static_cast<std::int64_t>(rng.below(60000)) - 1)},
        {"Type", Value(static_cast<std::int64_t>(rng.below(11)))},
        {"RunAtLoad", Value(rng.below(2) == 0)},
        {"KeepAlive", Value(rng.below(2) == 0)},
        {"Plist", Value("/Library/LaunchDaemons/" + label + ".plist")},
        {"ProgramArguments", Value(Array{"/usr/sbin/daemon", "--verbose", "-n", Value(label)})},
        {"User", i % 3 == 0 ? Value("mobile") : Value()},
        {"Limits", Value(Dictionary{{"soft", Value(static_cast<std::int64_t>(rng.below(4096)))},
                                    {"hard", Value(static_cast<std::int64_t>(rng.below(65536)))}})},
    }));
  }
  return Value(Dictionary{{"status", 0}, {"data", Value(std::move(jobs))}});
}

Value number_heavy_document() {
  Lcg rng;
  Array polygons;
  for (int p = 0; p < 60; ++p) {
    Array ring;
    for (int i = 0; i < 1000; ++i)
      ring.push_back(Value(Array{-180.0 + 360.0 * rng.unit(), -90.0 + 180.0 * rng.unit()}));
    polygons.push_back(Value(Array{Value(std::move(ring))}));
  }
  return Value(Dictionary{{"type", "MultiPolygon"}, {"coordinates", Value(std::move(polygons))}});
}

Value string_heavy_document() {
  static const char* const kWords[] = {"réglage",    "службы",      "設定",        "démon",
                                       "\"quoted\"", "back\\slash", "line\nbreak", "tab\there",
                                       "plain",      "ελληνικά",    "🙂",        "naïve"};
  Lcg rng;
  Array entries;
  for (int i = 0; i < 2000; ++i) {
    std::string title, body;
    for (int w = 0; w < 8; ++w)
      (title += kWords[rng.below(12)]) += ' ';
    for (int w = 0; w < 50; ++w)
      (body += kWords[rng.below(12)]) += ' ';
    entries.push_back(
        Value(Dictionary{{"title", Value(std::move(title))}, {"body", Value(std::move(body))}}));
  }
  return Value(std::move(entries));
}

std::string read_shared(const char* name) {
  std::filesystem::path path = std::filesystem::path(ORVANE_SHARED_DATA_DIR) / "json" / name;
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Document {
  std::string name;
  std::string text;
  Value tree;
  rapidjson::Document rapid;
};

std::vector<Document>& documents() {
  static std::vector<Document> all;
  return all;
}

void add_document(std::string name, std::string text) {
  Document& doc = documents().emplace_back();
  doc.name = std::move(name);
  doc.text = std::move(text);
  doc.tree = json_2_ns(Value(doc.text));
  doc.rapid.Parse(doc.text.data(), doc.text.size());
}

void prepare_documents() {
  documents().reserve(5);
  add_document("objects", *orv::write_json(object_heavy_document()));
  add_document("numbers", *orv::write_json(number_heavy_document()));
  add_document("strings", *orv::write_json(string_heavy_document()));
  if (std::string citm = read_shared("citm_catalog.json"); !citm.empty())
    add_document("citm_catalog", std::move(citm));
  if (std::string canada = read_shared("canada.json"); !canada.empty())
    add_document("canada", std::move(canada));
}

void bench_json_2_ns(benchmark::State& state, const Document* doc) {
  Value text(doc->text);
  for (auto _ : state)
    benchmark::DoNotOptimize(json_2_ns(text));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(doc->text.size()));
}

// The same with allocation and freeing costing nothing: how close any arena could bring it.
void bench_json_2_ns_free_allocation(benchmark::State& state, const Document* doc) {
  Value text(doc->text);
  benchmark::DoNotOptimize(json_2_ns(text));  // the thread's parser grows from the heap
  for (auto _ : state) {
    FreeAllocation scope;
    benchmark::DoNotOptimize(json_2_ns(text));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(doc->text.size()));
}

void bench_simdjson_parse(benchmark::State& state, const Document* doc) {
  simdjson::padded_string padded(doc->text);
  simdjson::dom::parser parser;
  for (auto _ : state) {
    simdjson::dom::element root;
    if (parser.parse(padded).get(root) != simdjson::SUCCESS) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(root);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(doc->text.size()));
}

void bench_ns_2_json(benchmark::State& state, const Document* doc) {
  for (auto _ : state)
    benchmark::DoNotOptimize(ns_2_json(doc->tree));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(doc->text.size()));
}

void bench_rapidjson_write(benchmark::State& state, const Document* doc) {
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc->rapid.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(doc->text.size()));
}

// Keeps the mean CPU time per iteration of every run (CPU, not wall time: the machine is shared),
// to print the ratios after the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        seconds_[run.benchmark_name()] = run.cpu_accumulated_time / run.iterations;
    ConsoleReporter::ReportRuns(runs);
  }

  void print_ratios() const {
    std::printf("\n%-14s %10s %10s %10s  %s\n", "document", "MB", "read", "read*", "write");
    for (const Document& doc : documents()) {
      double read = ratio("simdjson_parse/" + doc.name, "json_2_ns/" + doc.name);
      double free = ratio("simdjson_parse/" + doc.name, "json_2_ns_free_allocation/" + doc.name);
      double write = ratio("rapidjson_write/" + doc.name, "ns_2_json/" + doc.name);
      std::printf("%-14s %10.2f %9.0f%% %9.0f%%  %4.0f%%\n", doc.name.c_str(),
                  doc.text.size() / 1e6, read * 100, free * 100, write * 100);
    }
    std::printf(
        "read: json_2_ns throughput as a share of simdjson's parse (goal >= 60%%)\n"
        "read*: the same with allocation and freeing free, the bound for any arena\n"
        "write: ns_2_json throughput as a share of RapidJSON's Writer (goal >= 100%%)\n");
  }

 private:
  // Throughput of `ours` relative to `baseline` (same bytes, so the inverse ratio of times).
  double ratio(const std::string& baseline, const std::string& ours) const {
    auto b = seconds_.find(baseline), o = seconds_.find(ours);
    if (b == seconds_.end() || o == seconds_.end() || o->second <= 0) return 0;
    return b->second / o->second;
  }

  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  prepare_documents();
  for (const Document& doc : documents()) {
    benchmark::RegisterBenchmark(("simdjson_parse/" + doc.name).c_str(), bench_simdjson_parse,
                                 &doc);
    benchmark::RegisterBenchmark(("json_2_ns/" + doc.name).c_str(), bench_json_2_ns, &doc);
    benchmark::RegisterBenchmark(("json_2_ns_free_allocation/" + doc.name).c_str(),
                                 bench_json_2_ns_free_allocation, &doc);
    benchmark::RegisterBenchmark(("rapidjson_write/" + doc.name).c_str(), bench_rapidjson_write,
                                 &doc);
    benchmark::RegisterBenchmark(("ns_2_json/" + doc.name).c_str(), bench_ns_2_json, &doc);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  benchmark::Shutdown();
  return 0;
}

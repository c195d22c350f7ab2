// Runs a fuzz target's property check without libFuzzer, so that every build's tests replay
// it: over each seed file named on the command line (or found in a named directory), every
// prefix of it, and every copy with one byte inverted. A failed check aborts, as it does under
// the fuzzer; finding no input at all fails too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void replay(std::vector<std::uint8_t> seed) {
  for (std::size_t length = 0; length <= seed.size(); ++length)
    LLVMFuzzerTestOneInput(seed.data(), length);
  for (std::uint8_t& byte : seed) {
    byte = static_cast<std::uint8_t>(~byte);
    LLVMFuzzerTestOneInput(seed.data(), seed.size());
    byte = static_cast<std::uint8_t>(~byte);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> seeds;
  for (int i = 1; i < argc; ++i) {
    if (!fs::is_directory(argv[i])) {
      seeds.emplace_back(argv[i]);
      continue;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[i]))
      if (entry.is_regular_file()) seeds.push_back(entry.path());
  }
  std::sort(seeds.begin(), seeds.end());
  for (const fs::path& seed : seeds)
    replay(contents(seed));
  std::printf("replayed %zu seeds\n", seeds.size());
  return seeds.empty() ? 1 : 0;
}

// CVRFile::CheckSum over one file, next to the two things it is made of: reading the file in
// checksum blocks through the platform seam, and summing a block already in memory.
//
//   checksum_bench [benchmark flags] FILE      (or BSPLIFT_CHECKSUM_FILE=FILE checksum_bench)
//
// bench/run-checksum makes the file, warms the page cache and compares with `sum -s`.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/file.h"
#include "support/vrfile.h"

namespace {

std::string filePath;

double Min(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

void BM_CheckSum(benchmark::State& state) {
  uint32_t sum = 0;
  for (auto _ : state) {
    CVRFile file(filePath);
    sum = file.CheckSum();
    benchmark::DoNotOptimize(sum);
  }
  state.SetLabel("checksum " + std::to_string(sum));  // a counter would print it rounded
  state.SetBytesProcessed(int64_t(state.iterations()) * CVRFile(filePath).GetLength());
}

// The floor under CheckSum: the same reads, nothing added up.
void BM_ReadBlocks(benchmark::State& state) {
  std::vector<uint8_t> block(CVRFile::kCheckSumBlock);
  int64_t total = 0;
  for (auto _ : state) {
    platform::File f = platform::OpenFile(filePath, platform::Access::Read, platform::Disposition::OpenExisting);
    uint32_t done = 0;
    while (platform::ReadFile(f, block.data(), uint32_t(block.size()), &done) && done > 0) total += done;
    platform::CloseFile(f);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(total);
}

void BM_SumBytes(benchmark::State& state) {
  std::vector<uint8_t> block(CVRFile::kCheckSumBlock);
  for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 131 + 7);
  for (auto _ : state) {
    benchmark::DoNotOptimize(block.data());
    benchmark::DoNotOptimize(SumBytes(block.data(), block.size()));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(block.size()));
}

BENCHMARK(BM_CheckSum)->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", Min);
BENCHMARK(BM_ReadBlocks)->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", Min);
BENCHMARK(BM_SumBytes)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Min);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const char* fromEnvironment = std::getenv("BSPLIFT_CHECKSUM_FILE");
  if (argc > 1) {
    filePath = argv[1];
  } else if (fromEnvironment) {
    filePath = fromEnvironment;
  } else {
    std::fprintf(stderr, "usage: checksum_bench [benchmark flags] FILE (or BSPLIFT_CHECKSUM_FILE=FILE)\n");
    return 2;
  }
  if (CVRFile(filePath).GetLength() == 0) {
    std::fprintf(stderr, "checksum_bench: %s is missing or empty\n", filePath.c_str());
    return 2;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

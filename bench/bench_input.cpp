// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of tallying a band matrix: a comma-separated table of 2000 individuals in 10
// populations, at the program's 5000 loci and at 50 000 loci, generated in memory (about 2%
// missing cells, a few of them "NA"), read by read_matrix. Compare with the simulation: a
// default run simulates over a million replicates (bench_replicate gives the cost of one).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "data/matrix_input.h"

namespace {

std::string make_table(int individuals, int loci) {
  uint64_t s = 0x9E3779B97F4A7C15ULL;
  auto next = [&s]() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  };
  std::string text = "id,pop";
  for (int l = 1; l <= loci; ++l) text += ",L" + std::to_string(l);
  text += "\r\n";
  text.reserve(static_cast<size_t>(individuals) * (2 * loci + 20));
  for (int i = 0; i < individuals; ++i) {
    text += "ind" + std::to_string(i + 1) + ",pop" + std::to_string(i % 10 + 1);
    for (int l = 0; l < loci; ++l) {
      const uint64_t r = next() % 1000;
      text += r < 15 ? "," : r < 20 ? ",NA" : (r & 1) ? ",1" : ",0";
    }
    text += "\r\n";
  }
  return text;
}

void BM_ReadTable(benchmark::State& state) {
  const std::string text = make_table(2000, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    MatrixCounts m = read_matrix(usable_text(text, "bench.csv"), InputFormat::table, "bench.csv");
    benchmark::DoNotOptimize(m.n.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadTable)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one population's order statistics (the innermost step of a replicate): selection
// of the nc ranks against a full sort, for I = 50, 500, 5000 loci. Values are band
// frequencies k/n with n = 20, the typical shape (many ties); arg 1 is nc (15 or 25).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "simulation/summary_stats.h"

namespace {

std::vector<double> band_frequencies(int count) {
  std::mt19937 gen(12345);
  std::uniform_int_distribution<int> k(0, 20);
  std::vector<double> v(count);
  for (double& x : v) x = k(gen) / 20.0;
  return v;
}

std::vector<double> deviations(int count) {
  std::mt19937 gen(54321);
  std::normal_distribution<double> y(0.0, 0.4);
  std::vector<double> v(count);
  for (double& x : v) x = y(gen);
  return v;
}

template <void (*Order)(double*, int, int, double*)>
void run(benchmark::State& state, const std::vector<double>& source) {
  const int count = static_cast<int>(state.range(0));
  const int nc = static_cast<int>(state.range(1));
  std::vector<double> scratch(count), out(nc);
  for (auto _ : state) {
    // The copy stands for the fill of the scratch array from the data set, which both
    // methods pay equally.
    std::copy(source.begin(), source.end(), scratch.begin());
    Order(scratch.data(), count, nc, out.data());
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_select_frequencies(benchmark::State& s) {
  run<select_order_statistics>(s, band_frequencies(static_cast<int>(s.range(0))));
}
void BM_sort_frequencies(benchmark::State& s) {
  run<sort_order_statistics>(s, band_frequencies(static_cast<int>(s.range(0))));
}
void BM_select_deviations(benchmark::State& s) {
  run<select_order_statistics>(s, deviations(static_cast<int>(s.range(0))));
}
void BM_sort_deviations(benchmark::State& s) {
  run<sort_order_statistics>(s, deviations(static_cast<int>(s.range(0))));
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int count : {50, 500, 1000, 2000, 5000})
    for (int nc : {15, 25}) b->Args({count, nc});
}

}  // namespace

// The whole Fis step of one population as a replicate runs it: with one sample size at
// every locus the band counts are ranked by counting (arg 2 = 1); with sizes that differ
// (arg 2 = 0: 19 or 20) the frequencies are sorted.
void BM_fis_statistics(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const int nc = static_cast<int>(state.range(1));
  const bool one_size = state.range(2) != 0;
  std::mt19937 gen(777);
  std::vector<LocusRecord> data(count, LocusRecord{0, 0, 0.0});
  std::vector<int> loci(count);
  for (int l = 0; l < count; ++l) {
    loci[l] = l;
    data[l].n = one_size ? 20 : 19 + (l % 2);
    data[l].k = std::uniform_int_distribution<int>(0, data[l].n)(gen);
  }
  std::vector<double> scratch(count), out(nc);
  for (auto _ : state) {
    compute_fis_statistics(data.data(), count, 1, loci.data(), count, nc, out.data(),
                           scratch.data());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_fis_statistics)->ArgsProduct({{50, 500, 5000}, {15}, {1, 0}});

BENCHMARK(BM_select_frequencies)->Apply(sizes);
BENCHMARK(BM_sort_frequencies)->Apply(sizes);
BENCHMARK(BM_select_deviations)->Apply(sizes);
BENCHMARK(BM_sort_deviations)->Apply(sizes);

// SPDX-License-Identifier: GPL-3.0-or-later
// Cost per variate of the generator and of the model's variates. Every benchmark reports
// items per second, so "ns per variate" is 1e9 / items_per_second (Google Benchmark's own
// time column is per iteration, and one iteration draws one variate).
#include <benchmark/benchmark.h>

#include <vector>

#include "random/mtrand.h"

namespace {

void BM_RandInt(benchmark::State& state) {
  MTRand r;
  r.seed(5489UL);
  for (auto _ : state) benchmark::DoNotOptimize(r.randInt());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RandInt);

// randBeta(a, a), the ancestral frequency; a is passed in tenths.
void BM_RandBetaSymmetric(benchmark::State& state) {
  const double a = state.range(0) / 10.0;
  MTRand r;
  r.seed(5489UL);
  for (auto _ : state) benchmark::DoNotOptimize(r.randBeta(a, a));
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(a > 1 ? "BB" : "BC");
}
BENCHMARK(BM_RandBetaSymmetric)->Arg(1)->Arg(5)->Arg(20)->Arg(100);

// randBeta(theta P, (1 - P) theta), the population frequency: small, unequal shapes that
// change at every call. P comes from Beta(1.1, 1.1) (the hyperparameter at Z = 0) and
// theta = 1/Fst - 1, passed as Fst in hundredths.
void BM_RandBetaModel(benchmark::State& state) {
  const double fst = state.range(0) / 100.0;
  const double theta = 1.0 / fst - 1.0;
  MTRand r;
  r.seed(5489UL);
  std::vector<double> pool(4096);
  for (double& p : pool) {
    p = r.randBeta(1.1, 1.1);
    if (p == 1.0) p = 0.9999999999999999;
  }
  size_t i = 0;
  for (auto _ : state) {
    const double p = pool[i++ & 4095];
    benchmark::DoNotOptimize(r.randBeta(theta * p, (1.0 - p) * theta));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RandBetaModel)->Arg(10)->Arg(50);

// Binomial(n, p) for p given in parts per million, one benchmark per method.
void BM_Binomial(benchmark::State& state) {
  const long n = state.range(0);
  const double p = state.range(1) / 1e6;
  MTRand r;
  r.seed(5489UL);
  for (auto _ : state) benchmark::DoNotOptimize(r.Binomial(n, p));
  state.SetItemsProcessed(state.iterations());
  const double m = n * p;
  state.SetLabel(m < 1e-6 ? "poisson-low" : m < 35 ? "inversion" : "ratio-of-uniforms");
}
BENCHMARK(BM_Binomial)
    ->Args({20, 1})         // m = 2e-5: still inversion
    ->Args({20, 300000})    // m = 6
    ->Args({20, 900000})    // m = 18, reflected
    ->Args({200, 100000})   // m = 20
    ->Args({200, 170000})   // m = 34
    ->Args({200, 300000})   // m = 60
    ->Args({200, 900000});  // m = 180, reflected

// Poisson-low needs p below 5e-9 for n = 200: below the ppm grid above.
void BM_BinomialPoissonLow(benchmark::State& state) {
  const long n = state.range(0);
  const double p = 1e-9;
  MTRand r;
  r.seed(5489UL);
  for (auto _ : state) benchmark::DoNotOptimize(r.Binomial(n, p));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BinomialPoissonLow)->Arg(20)->Arg(200);

// The model rarely repeats (n, p), so the ratio-of-uniforms set-up runs at nearly every
// call: alternate two probabilities to measure that case.
void BM_BinomialRatioNewSetUp(benchmark::State& state) {
  const long n = state.range(0);
  MTRand r;
  r.seed(5489UL);
  bool flip = false;
  for (auto _ : state) {
    flip = !flip;
    benchmark::DoNotOptimize(r.Binomial(n, flip ? 0.3 : 0.31));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BinomialRatioNewSetUp)->Arg(200);

}  // namespace

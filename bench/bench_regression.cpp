// SPDX-License-Identifier: GPL-3.0-or-later
// The regression fit of a default-size population (5000 accepted draws, 25 statistics, as
// for Fst) against the diagnostics of the same population (100 refits of resamples): the
// ratio is the share the diagnostics add to the posterior analysis.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "posterior/adjustment.h"
#include "posterior/diagnostics.h"
#include "posterior/regression.h"

namespace {

RegressionDesign default_design(int n, int p) {
  RegressionDesign d;
  d.n = n;
  d.p = p;
  d.x.resize(static_cast<size_t>(n) * p);
  d.y.resize(n);
  d.w.resize(n);
  uint64_t s = 88172645463325252ULL;
  auto uniform = [&s]() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return (s >> 11) * (1.0 / 9007199254740992.0);
  };
  for (int i = 0; i < n; ++i) {
    double z = 0;
    for (int j = 0; j < p; ++j) {
      float v = static_cast<float>(uniform() - 0.5);
      d.x[static_cast<size_t>(i) * p + j] = v;
      z += 0.3 * v;
    }
    d.y[i] = z + uniform() - 0.5;
    d.w[i] = 1 - uniform();
  }
  return d;
}

void BM_RegressionFit(benchmark::State& state) {
  RegressionDesign d = default_design(5000, static_cast<int>(state.range(0)));
  std::vector<double> slopes;
  for (auto _ : state) {
    FitWorkspace ws(d.n, d.p);  // perform_regression allocates one per population
    benchmark::DoNotOptimize(fit_slopes(d, nullptr, ws, slopes));
  }
}
BENCHMARK(BM_RegressionFit)->Arg(15)->Arg(25)->Unit(benchmark::kMillisecond);

void BM_Diagnose(benchmark::State& state) {
  RegressionDesign d = default_design(5000, static_cast<int>(state.range(0)));
  std::vector<float> reg(d.n), noreg(d.n);
  for (int i = 0; i < d.n; ++i) reg[i] = noreg[i] = static_cast<float>(1 / (1 + std::exp(-d.y[i])));
  for (auto _ : state) benchmark::DoNotOptimize(diagnose("Fst1", d, reg, noreg, 1));
}
BENCHMARK(BM_Diagnose)->Arg(15)->Arg(25)->Unit(benchmark::kMillisecond);

}  // namespace

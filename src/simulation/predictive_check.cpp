// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulation/predictive_check.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

#include "config.h"
#include "core/parallel.h"
#include "errors.h"
#include "random/block_seed.h"
#include "simulation/worker.h"

const char* const PPC_STATISTIC_NAMES[PPC_STATISTICS] = {"all_band", "no_band", "mean_frequency",
                                                         "variance_frequency", "correlation"};

namespace {

double band_frequency(const LocusRecord& r) { return static_cast<double>(r.k) / r.n; }

// Pearson correlation of the band frequencies of populations p and q over the loci; NaN
// when either does not vary.
double frequency_correlation(const LocusRecord* data, int nloci, int p, int q) {
  const LocusRecord* a = data + static_cast<size_t>(p) * nloci;
  const LocusRecord* b = data + static_cast<size_t>(q) * nloci;
  double mean_a = 0, mean_b = 0;
  for (int l = 0; l < nloci; ++l) {
    mean_a += band_frequency(a[l]);
    mean_b += band_frequency(b[l]);
  }
  mean_a /= nloci;
  mean_b /= nloci;
  double saa = 0, sbb = 0, sab = 0;
  for (int l = 0; l < nloci; ++l) {
    const double da = band_frequency(a[l]) - mean_a, db = band_frequency(b[l]) - mean_b;
    saa += da * da;
    sbb += db * db;
    sab += da * db;
  }
  if (!(saa > 0) || !(sbb > 0)) return NAN;
  return sab / std::sqrt(saa * sbb);
}

}  // namespace

void predictive_statistics(const LocusRecord* data, int npop, int nloci, int p, double* out) {
  const LocusRecord* block = data + static_cast<size_t>(p) * nloci;
  double all = 0, none = 0, sum = 0;
  for (int l = 0; l < nloci; ++l) {
    all += block[l].k == block[l].n;
    none += block[l].k == 0;
    sum += band_frequency(block[l]);
  }
  const double mean = sum / nloci;
  double squares = 0;
  for (int l = 0; l < nloci; ++l) {
    const double d = band_frequency(block[l]) - mean;
    squares += d * d;
  }
  out[0] = all / nloci;
  out[1] = none / nloci;
  out[2] = mean;
  out[3] = nloci > 1 ? squares / (nloci - 1) : NAN;
  double correlations = 0;
  int pairs = 0;
  for (int q = 0; q < npop; ++q) {
    if (q == p) continue;
    const double r = frequency_correlation(data, nloci, p, q);
    if (std::isnan(r)) continue;
    correlations += r;
    ++pairs;
  }
  out[4] = pairs > 0 ? correlations / pairs : NAN;
}

std::vector<std::vector<double>> simulate_predictive_statistics(const Job& job,
                                                                const PredictiveDraws& draws,
                                                                uint32_t seed, int threads) {
  const int npop = static_cast<int>(draws.vectors.size());
  std::vector<std::vector<double>> out(npop);
  for (int p = 0; p < npop; ++p)
    out[p].resize(static_cast<size_t>(draws.count(p)) * PPC_STATISTICS);
  std::atomic<int> next{0};
  auto work = [&]() {
    try {
      WorkerState w(job);
      for (int p = next++; p < npop; p = next++) {
        seed_block_generator(w.mt, seed, STREAM_PREDICTIVE, static_cast<uint32_t>(p));
        const std::vector<double>& v = draws.vectors[p];
        for (int i = 0; i < draws.count(p); ++i) {
          const double* x = v.data() + static_cast<size_t>(i) * draws.width;
          std::copy(x, x + npop, w.fis.begin());
          std::copy(x + npop, x + 2 * npop, w.fst.begin());
          w.a = x[2 * npop];
          // The other populations take their parameters from their own i-th acceptance: in a
          // vector accepted for p they are hardly constrained by the data (close to prior
          // draws), and would predict the correlation of populations unlike the observed.
          for (int q = 0; q < npop; ++q) {
            if (q == p || draws.count(q) <= i) continue;
            const double* y = draws.vectors[q].data() + static_cast<size_t>(i) * draws.width;
            w.fis[q] = y[q];
            w.fst[q] = y[npop + q];
          }
          simulate_loci(w);
          predictive_statistics(w.data.data(), npop, job.I, p,
                                out[p].data() + static_cast<size_t>(i) * PPC_STATISTICS);
        }
      }
    } catch (const std::bad_alloc&) {
      fail("Out of memory in the posterior predictive check");
    }
  };
  run_on_threads(threads, npop, work);
  return out;
}

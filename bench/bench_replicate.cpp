// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one whole production replicate (parameter draws, loci with the filter, statistics,
// distances, acceptance, and its share of the seeding and commit of its block) against its
// floor: the same random variates alone, drawn with the
// same parameters and the same redraws, without storing the data set or summarising it.
// Shapes I x J x n: 50 x 2 x 20, 200 x 5 x 20, 500 x 20 x 20 (args: I, J). Compare
// BM_Replicate with BM_VariateFloor of the same shape, measured in one run.
#include <benchmark/benchmark.h>

#include <climits>
#include <cmath>
#include <numeric>
#include <vector>

#include "job.h"
#include "random/block_seed.h"
#include "run_state.h"
#include "simulation/summary_stats.h"
#include "simulation/worker.h"

namespace {

constexpr int SAMPLE_SIZE = 20;

// Observed data of the given shape in `job`: n = 20 everywhere and band counts spread over
// 1 .. 20, with its statistics; production-run state of `run` that accepts nothing (the
// common case at an acceptance ratio of 0.005) so no line is written.
void set_up_run(Job& job, Run& run, int nloci, int npop) {
  job.I = nloci;
  job.J = npop;
  job.pop_target.assign(static_cast<size_t>(npop) * nloci, LocusRecord{0, 0, 0.0});
  job.target_fis.assign(static_cast<size_t>(npop) * job.nb_class_fis, 0.0);
  job.target_fst.assign(static_cast<size_t>(npop) * job.nb_class_fst, 0.0);
  std::vector<int> loci(nloci), T0(nloci, 0), T1(nloci, 0);
  std::iota(loci.begin(), loci.end(), 0);
  for (int p = 0; p < npop; ++p) {
    for (int l = 0; l < nloci; ++l) {
      LocusRecord& r = job.pop_target[job.record_index(p, l)];
      r.n = SAMPLE_SIZE;
      r.k = 1 + (7 * l + 3 * p) % SAMPLE_SIZE;
      T0[l] += r.n;
      T1[l] += r.k;
    }
  }
  std::vector<double> scratch(nloci);
  compute_fis_statistics(job.pop_target.data(), nloci, npop, loci.data(), nloci, job.nb_class_fis,
                         job.target_fis.data(), scratch.data());
  compute_fst_statistics(job.pop_target.data(), nloci, npop, loci.data(), nloci, T0.data(),
                         T1.data(), job.nb_class_fst, job.target_fst.data(), scratch.data());
  run.pilot = false;
  run.quantile_fis.assign(npop, -1.0);
  run.quantile_fst.assign(npop, -1.0);
  run.nb_fis.reset(new std::atomic<int>[npop]);
  run.nb_fst.reset(new std::atomic<int>[npop]);
  for (int p = 0; p < npop; ++p) run.nb_fis[p] = run.nb_fst[p] = 0;
  run.outfile_fis = std::vector<std::ofstream>(npop);
  run.outfile_fst = std::vector<std::ofstream>(npop);
  run.nbreps = INT_MAX;
  run.block_size = choose_block_size(nloci, npop, 99999);
  begin_block_schedule(run);
}

// Both benchmarks make the job before the Run, which holds it by reference.
void BM_Replicate(benchmark::State& state) {
  Job job;
  Run run(job);
  set_up_run(job, run, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  WorkerState w(job);
  long long block = 0;
  int offset = run.block_size;
  for (auto _ : state) {
    if (offset == run.block_size) {
      if (block > 0) commit_block(run, w.block);
      seed_block_generator(w.mt, 4242u, STREAM_PRODUCTION, static_cast<uint32_t>(block));
      w.block.clear(block++);
      offset = 0;
    }
    simulate_replicate(w);
    collect_acceptances(run, w, offset++);
    benchmark::DoNotOptimize(w.dist_fst.data());
  }
  state.counters["block"] = run.block_size;
}

// The variates of one replicate and nothing else: 2J uniforms, one normal, and per drawn
// locus one Beta(a, a), J population Betas and J binomials; the totals decide the redraws.
void BM_VariateFloor(benchmark::State& state) {
  Job job;
  Run run(job);
  set_up_run(job, run, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const int I = job.I, J = job.J;
  MTRand mt;
  mt.seed(4242UL);
  std::vector<double> fis(J), theta(J);
  for (auto _ : state) {
    for (int p = 0; p < J; ++p) fis[p] = mt.randDblExc();
    for (int p = 0; p < J; ++p) theta[p] = 1.0 / mt.randDblExc() - 1.0;
    const double a = std::exp(mt.randNorm(0.0, 1.0)) + 0.1;
    for (int m = 0; m < I;) {
      const double P = draw_ancestral_frequency(mt, a);
      int t1 = 0;
      for (int p = 0; p < J; ++p) {
        const double q = mt.randBeta(theta[p] * P, (1.0 - P) * theta[p]);
        t1 += mt.Binomial(SAMPLE_SIZE, band_probability(q, fis[p]));
      }
      if (t1 >= job.bias_hidden) ++m;
    }
    benchmark::DoNotOptimize(fis.data());
  }
}

void shapes(benchmark::internal::Benchmark* b) {
  // The last two: the largest data sets the program once held, and one four times wider
  // with more populations than it held.
  b->Args({50, 2})->Args({200, 5})->Args({500, 20})->Args({5000, 60})->Args({20000, 100});
  b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_Replicate)->Apply(shapes);
BENCHMARK(BM_VariateFloor)->Apply(shapes);

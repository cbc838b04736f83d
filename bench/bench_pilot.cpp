// SPDX-License-Identifier: GPL-3.0-or-later
// Pilot-run throughput on 1 and 2 worker threads at 200 x 5 x 20 (loci x populations x
// sample size), block seeding and hand-out included. Compare replicates per second (real
// time) of BM_PilotRun/1 and BM_PilotRun/2, measured in one run; the ratio is the speed-up
// of the second worker (bench/scaling.sh measures the same through the whole program).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <numeric>
#include <vector>

#include "driver/run_driver.h"
#include "job.h"
#include "run_state.h"
#include "simulation/summary_stats.h"
#include "simulation/worker.h"

namespace {

constexpr int LOCI = 200;
constexpr int POPULATIONS = 5;
constexpr int SAMPLE_SIZE = 20;
constexpr int PILOT_SIZE = 4000;

// Observed data of the benchmark shape (as in bench_replicate) and its statistics, in `job`;
// the pilot-run state of `run`.
void set_up_observed(Job& job, Run& run) {
  job.I = LOCI;
  job.J = POPULATIONS;
  const int I = job.I, J = job.J;
  job.pop_target.assign(static_cast<size_t>(J) * I, LocusRecord{0, 0, 0.0});
  job.target_fis.assign(static_cast<size_t>(J) * job.nb_class_fis, 0.0);
  job.target_fst.assign(static_cast<size_t>(J) * job.nb_class_fst, 0.0);
  std::vector<int> loci(I), T0(I, 0), T1(I, 0);
  std::iota(loci.begin(), loci.end(), 0);
  for (int p = 0; p < J; ++p) {
    for (int l = 0; l < I; ++l) {
      LocusRecord& r = job.pop_target[job.record_index(p, l)];
      r.n = SAMPLE_SIZE;
      r.k = 1 + (7 * l + 3 * p) % SAMPLE_SIZE;
      T0[l] += r.n;
      T1[l] += r.k;
    }
  }
  std::vector<double> scratch(I);
  compute_fis_statistics(job.pop_target.data(), I, J, loci.data(), I, job.nb_class_fis,
                         job.target_fis.data(), scratch.data());
  compute_fst_statistics(job.pop_target.data(), I, J, loci.data(), I, T0.data(), T1.data(),
                         job.nb_class_fst, job.target_fst.data(), scratch.data());
  run.v_dist_fis.assign(J, std::vector<double>(PILOT_SIZE));
  run.v_dist_fst.assign(J, std::vector<double>(PILOT_SIZE));
  run.job_seed = 99u;
  // As a job of the default -n and -ar would choose it for this shape.
  run.block_size = choose_block_size(I, J, 99999);
}

void BM_PilotRun(benchmark::State& state) {
  // The Run holds the job by reference: the job is made first and outlives it.
  Job job;
  job.nb_procs = static_cast<int>(state.range(0));
  Run run(job);
  set_up_observed(job, run);
  // The progress gauge goes to standard output, where the benchmark writes its report.
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  for (auto _ : state) {
    dup2(null, STDOUT_FILENO);
    run_simulation(run, true, PILOT_SIZE);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
  }
  close(null);
  close(saved);
  state.SetItemsProcessed(state.iterations() * PILOT_SIZE);
  state.counters["block"] = run.block_size;
}

}  // namespace

BENCHMARK(BM_PilotRun)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

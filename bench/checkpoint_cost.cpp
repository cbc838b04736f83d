// SPDX-License-Identifier: GPL-3.0-or-later
// What checkpoints cost at a given size, without simulating: the state of a job of LOCI x
// POPS at the default -n and -ar (its pilot distances and, with TABLE 1, the reference
// table of -cv and -gof, filled with values) is checkpointed as a run would checkpoint it:
// ten times in the pilot run (after each tenth of its blocks), once when the production
// run starts, then five times in it. Printed: the seconds of each checkpoint, the bytes
// written, and the peak memory before and after (what writing adds).
//
// Usage: checkpoint_cost LOCI POPS [TABLE] (run it in a scratch folder: it writes there)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "driver/checkpoint.h"
#include "driver/run_driver.h"
#include "job.h"
#include "posterior/cross_validation.h"
#include "reference_table.h"
#include "run_state.h"
#include "simulation/worker.h"

namespace {

double peak_mib() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double seconds_since(std::chrono::steady_clock::time_point begin) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

// A periodic checkpoint is due once a second has passed (-checkpoint 1); `step` then
// reaches the block boundary that writes it.
template <typename Step>
double timed_checkpoint(Step step) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1050));
  const auto begin = std::chrono::steady_clock::now();
  step();
  return seconds_since(begin);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: checkpoint_cost LOCI POPS [TABLE]\n");
    return 1;
  }
  // A job of the default configuration and that shape, with no data read: the checkpoints
  // only need its input file (for the checksum) and its output names.
  Job job;
  job.I = std::atoi(argv[1]);
  job.J = std::atoi(argv[2]);
  const int I = job.I, J = job.J;
  const bool table = argc > 3 && std::atoi(argv[3]) != 0;
  if (table) job.cv_count = 100;
  job.file_name = "cost_input.txt";
  job.file_prefix = "cost";
  std::ofstream(job.file_name) << "[loci]=1\n";
  job.checkpoint_seconds = 1;

  const DerivedCounts counts = derived_counts(job.nb_final, job.ratio);
  const long long size = counts.pilot_size;
  Run run(job);
  run.block_size = choose_block_size(I, J, size);
  if (table) prepare_reference_table(job, run.reference_table, size, 1e12);
  open_accepted_draw_files(run, size);
  // Values in every page, as a run leaves them.
  for (int p = 0; p < J; ++p)
    for (long long r = 0; r < size; ++r) {
      run.v_dist_fis[p][r] = 1.0 / (1.0 + r + p);
      run.v_dist_fst[p][r] = 2.0 / (1.0 + r + p);
    }
  for (std::vector<float>* v : {&run.reference_table.parameters, &run.reference_table.stats_fis,
                                &run.reference_table.stats_fst})
    for (size_t i = 0; i < v->size(); ++i) (*v)[i] = static_cast<float>(i % 1000) / 1000.0f;

  const double peak_before = peak_mib();
  JobCheckpoints cp(run, nullptr);
  cp.enter_stage(Stage::pilot);
  const long long blocks = (size + run.block_size - 1) / run.block_size;
  std::printf("%d loci x %d populations, pilot of %lld in %lld blocks, table %s\n", I, J, size,
              blocks, table ? "kept" : "none");
  std::printf("stage       checkpoint  seconds\n");
  long long done = 0;
  for (int tenth = 1; tenth <= 10; ++tenth) {
    const long long upto = blocks * tenth / 10;
    const BlockListeners& listeners = run.block_listeners;
    while (done + 1 < upto) listeners.pilot_block_done(listeners.context, run, done++);
    const double s =
        timed_checkpoint([&] { listeners.pilot_block_done(listeners.context, run, done++); });
    std::printf("pilot       %2d          %.3f\n", tenth, s);
  }
  run.quantile_fis.assign(J, 1.0);
  run.quantile_fst.assign(J, 1.0);
  cp.enter_stage(Stage::production);
  for (int k = 1; k <= 6; ++k) {
    const double s = timed_checkpoint([&] {
      std::lock_guard<std::mutex> hold(run.mutex_outfile);
      run.block_listeners.block_committed(run.block_listeners.context, run, k);
    });
    std::printf("production  %2d          %.3f\n", k, s);
  }
  std::printf("%s\n", cp.checkpoint_summary().c_str());
  std::printf("peak memory: %.0f MiB before the checkpoints, %.0f MiB after\n", peak_before,
              peak_mib());
  cp.end();
  close_accepted_draw_files(run);
  for (const char* parameter : {"Fis", "Fst"})
    for (int k = 1; k <= J; ++k)
      std::remove(("cost_" + std::string(parameter) + std::to_string(k) + ".txt").c_str());
  std::remove(job.file_name.c_str());
  return 0;
}

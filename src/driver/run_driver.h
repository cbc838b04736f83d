// SPDX-License-Identifier: GPL-3.0-or-later
// The body of one job after the input reader has returned: pilot run, thresholds,
// production run, hand-over to the posterior analysis, clean-up and timing.
#pragma once

#include <string>

// accepted_draw_file_name, with which tests find the files the steps below write.
#include "core/output_names.h"
#include "driver/checkpoint.h"
#include "job_results.h"
#include "progress.h"
#include "run_state.h"

// Runs `job` from its start, or from the checkpoint `resume` (null for a fresh job), and
// returns what its files hold in summary. The job's runs own a Run of their own; `remote`:
// the other processes that simulate blocks for them (none in the plain program);
// `observer`: told of the simulation runs' progress (none: null).
JobResults run_job(const Job& job, const Checkpoint* resume = nullptr,
                   const RemoteRanks& remote = RemoteRanks(), ProgressObserver* observer = nullptr);

// Counts derived from nb_final and ratio, computed in 80-bit extended precision and
// truncated toward zero. The command line checks them before the first job; run_job
// derives them again from the same configuration.
struct DerivedCounts {
  long long pilot_size;          // nb_final / (ratio * 10)
  long long threshold_index;     // pilot size * ratio
  long long production_minimum;  // nb_final / ratio
};
// Counts beyond an int end the run with a message naming -n and -ar.
DerivedCounts derived_counts(int final_draws, double acceptance_ratio);

// The steps of a job, callable one by one (tests drive a job through them), on the Run that
// holds the job's simulation state.

// Creates the per-population state of a job (counters, pilot distances of `pilot_size`
// entries, streams) and opens the 2 * J accepted-draw files; a file that cannot be
// created ends the run with a message naming it.
// `resumed`: the stage a resumed job goes on from (none for a fresh job).
void open_accepted_draw_files(Run& run, long long pilot_size, Stage resumed = Stage::none);

// Runs one simulation run on nb_procs worker threads and joins them: the pilot run of
// `reps` replicates, or the production run of at least `reps` replicates. The caller has
// set the run's job_seed and block_size (and, for the production run, its thresholds).
// `first_block`: where a resumed run goes on (0 for a fresh one).
void run_simulation(Run& run, bool pilot_run, long long reps, long long first_block = 0);

// Sets each population's Fis and Fst threshold to the element at `threshold_index` of its
// sorted pilot distances, and zeroes the acceptance counters.
void set_thresholds(Run& run, long long threshold_index);

// With -gof, sizes the run's predictive_draws for the production run to fill (emptied
// otherwise).
void prepare_predictive_draws(Run& run);

// Closes the accepted-draw files; a write that failed on the way ends the run with a
// message naming the file.
void close_accepted_draw_files(Run& run);

// SPDX-License-Identifier: GPL-3.0-or-later
// Run state of the two simulation runs of a job. The driver writes it only while no worker
// runs; during a run the workers share it under the three mutexes below and never hold two
// of them at once (the gauge's own lock is taken last, inside any of them). rep, finished and the
// acceptance counters are also read outside the locks, hence atomic. Work is handed out in blocks
// of replicates; in the production run the blocks are committed in index order (counting, writing,
// the stop test) under mutex_outfile.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include "core/progress_gauge.h"
extern bool pilot;  // true in the pilot run, false in the production run
// The random stream of the pilot run's blocks (seed_block_generator): STREAM_PILOT, or
// STREAM_JOINT_TABLE when the run simulates the reference table of -method joint, so that
// the two never share random numbers. Set by the driver before the run.
extern uint32_t pilot_stream;
extern int nbreps;            // pilot: simulations; production: least simulations
extern std::atomic<int> rep;  // replicates handed out so far (stops at INT_MAX)
// The run's gauge: in the pilot run the replicates begun, in the production run the
// slowest population's accepted draws (it moves with the commits).
extern PercentGauge run_gauge;
// Production: every counter has reached nb_final after at least nbreps replicates.
extern std::atomic<bool> finished;

// The job's seed: -seed, or one drawn from the generator's seeding sources. Set by the run
// driver at the start of each job, before any worker starts; every random stream of the
// job derives from it (seed_block_generator).
extern uint32_t job_seed;

// Replicates per block, chosen by the driver for each job (choose_block_size). Block b of
// a run holds the replicates b * block_size .. (b + 1) * block_size - 1.
extern int block_size;
// Replicates a run has simulated and kept: the pilot size after the pilot run, and in the
// production run those of the blocks committed so far (written under mutex_outfile).
extern long long replicates_done;

// Per population, created by the driver at the start of each job.
extern std::vector<std::vector<double>> v_dist_fis;  // pilot distances, pilot-size each
extern std::vector<std::vector<double>> v_dist_fst;
extern std::vector<double> quantile_fis;  // acceptance thresholds (sums of squares)
extern std::vector<double> quantile_fst;
extern std::unique_ptr<std::atomic<int>[]> nb_fis;  // acceptance counts (under mutex_outfile)
extern std::unique_ptr<std::atomic<int>[]> nb_fst;
extern std::vector<std::ofstream> outfile_fis;  // accepted-draw files (under mutex_outfile)
extern std::vector<std::ofstream> outfile_fst;

extern std::mutex mutex_counter;   // handing out blocks, rep
extern std::mutex mutex_outfile;   // production commits: nb_fis, nb_fst, finished, the files
extern std::mutex mutex_randseed;  // drawing a job seed from the seeding sources

// Other processes that simulate blocks for this one, with nb_procs threads each (the MPI
// build's other ranks; 0 in the plain program), and how this process serves them during a
// run: it hands them blocks with try_take_block and feeds their results into the same paths
// as the workers' (pilot distances by index, commit_block). The workers serve them between
// their own blocks, so that no thread of its own wakes up to poll and takes a core from the
// simulations; the driver serves them alone once its workers are done.
//   begin:  at the start of a run, before any worker starts;
//   poll:   serves whatever has arrived, without waiting (from any thread, one at a time);
//   finish: after the workers, serves until every block handed out has come back.
struct RemoteService {
  void (*begin)() = nullptr;
  void (*poll)() = nullptr;
  void (*finish)() = nullptr;
};
extern int remote_workers;
extern RemoteService remote_service;

// What the job's checkpoints learn from a run (set by the checkpoint module of the driver;
// null where nothing listens): a pilot block complete, its distances stored (from any
// thread); a production block committed (by the committer, under mutex_outfile). Either may
// write a checkpoint that is due.
struct BlockListeners {
  void (*pilot_block_done)(long long block) = nullptr;
  void (*block_committed)(long long block) = nullptr;
};
extern BlockListeners block_listeners;

// SPDX-License-Identifier: GPL-3.0-or-later
// The state of the simulation runs of one job, in one Run that the driver owns and hands by
// reference to the workers and to every step that reads or writes it. The driver writes it
// only while no worker runs; during a run the workers share it under its two mutexes and
// never hold both at once (the gauge's own lock is taken last, inside either). rep, finished,
// commit_turn and the acceptance counters are also read outside the locks, hence atomic.
// Work is handed out in blocks of replicates; in the production run the blocks are committed
// in index order (counting, writing, the stop test) under mutex_outfile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/progress_gauge.h"
#include "job.h"
#include "predictive_draws.h"
#include "reference_table.h"

// STREAM_PILOT of random/block_seed.h, which the shared state's module does not see (the
// random module sees it); the worker checks that the two agree.
constexpr uint32_t DEFAULT_PILOT_STREAM = 0;

// One accepted line of a block, in the block's text.
struct AcceptedLine {
  int offset;      // replicate within the block
  int population;  // p
  bool fst;        // a line of the Fst file (else of the Fis file)
  size_t end;      // end of its text; it begins where the previous line ends
};

// The accepted lines of one production block, in the order they are committed: replicate
// by replicate, within a replicate the Fis lines by population, then the Fst lines.
struct BlockLines {
  long long block = -1;
  std::string text;
  std::vector<AcceptedLine> lines;
  // With -gof (predictive_draws.wanted > 0): for every replicate with an accepted Fis line,
  // its offset followed by its parameter vector (predictive_draws.width values).
  std::vector<double> vectors;
  void clear(long long b) {
    block = b;
    text.clear();
    lines.clear();
    vectors.clear();
  }
};

struct Run;

// Other processes that simulate blocks for this one, with nb_procs threads each (the MPI
// build's other ranks; none in the plain program), and how this process serves them during a
// run: it hands them blocks with try_take_block and feeds their results into the same paths
// as the workers' (pilot distances by index, commit_block). The workers serve them between
// their own blocks, so that no thread of its own wakes up to poll and takes a core from the
// simulations; the driver serves them alone once its workers are done.
//   begin:  at the start of a run, before any worker starts;
//   poll:   serves whatever has arrived, without waiting (from any thread, one at a time);
//   finish: after the workers, serves until every block handed out has come back.
struct RemoteService {
  void (*begin)(Run&) = nullptr;
  void (*poll)(Run&) = nullptr;
  void (*finish)(Run&) = nullptr;
};

// The other processes as the program's entry point finds them: how many simulate for this
// one (remote_workers of every Run) and how they are served.
struct RemoteRanks {
  int workers = 0;
  RemoteService service;
};

// What the job's checkpoints learn from a run (set by the checkpoint module of the driver;
// null where nothing listens): a pilot block complete, its distances stored (from any
// thread); a production block committed (by the committer, under mutex_outfile). Either may
// write a checkpoint that is due.
struct BlockListeners {
  void* context = nullptr;  // the listener's own state, handed back to each call
  void (*pilot_block_done)(void* context, Run& run, long long block) = nullptr;
  void (*block_committed)(void* context, Run& run, long long block) = nullptr;
};

struct Run {
  explicit Run(const Job& job) : job(job) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // The job the run simulates for, which outlives it.
  const Job& job;

  bool pilot = true;  // true in the pilot run, false in the production run
  // The random stream of the pilot run's blocks (seed_block_generator): STREAM_PILOT, or
  // STREAM_JOINT_TABLE when the run simulates the reference table of -method joint, so that
  // the two never share random numbers. Set by the driver before the run.
  uint32_t pilot_stream = DEFAULT_PILOT_STREAM;
  int nbreps = 0;           // pilot: simulations; production: least simulations
  std::atomic<int> rep{0};  // replicates handed out so far (stops at INT_MAX)
  // The run's gauge: in the pilot run the replicates begun, in the production run the
  // slowest population's accepted draws (it moves with the commits).
  PercentGauge run_gauge;
  // Production: every counter has reached nb_final after at least nbreps replicates.
  std::atomic<bool> finished{false};

  // The job's seed: -seed, or one drawn from the generator's seeding sources. Set by the run
  // driver at the start of each job, before any worker starts; every random stream of the
  // job derives from it (seed_block_generator).
  uint32_t job_seed = 0;

  // Replicates per block, chosen by the driver for each job (choose_block_size). Block b of
  // a run holds the replicates b * block_size .. (b + 1) * block_size - 1.
  int block_size = 1;
  // Replicates a run has simulated and kept: the pilot size after the pilot run, and in the
  // production run those of the blocks committed so far (written under mutex_outfile).
  long long replicates_done = 0;

  // Per population, created by the driver at the start of each job.
  std::vector<std::vector<double>> v_dist_fis;  // pilot distances, pilot-size each
  std::vector<std::vector<double>> v_dist_fst;
  std::vector<double> quantile_fis;  // acceptance thresholds (sums of squares)
  std::vector<double> quantile_fst;
  std::unique_ptr<std::atomic<int>[]> nb_fis;  // acceptance counts (under mutex_outfile)
  std::unique_ptr<std::atomic<int>[]> nb_fst;
  std::vector<std::ofstream> outfile_fis;  // accepted-draw files (under mutex_outfile)
  std::vector<std::ofstream> outfile_fst;

  std::mutex mutex_counter;  // handing out blocks, rep
  std::mutex mutex_outfile;  // production commits: nb_fis, nb_fst, finished, the files

  // The other processes that simulate for this run (see RemoteService).
  int remote_workers = 0;
  RemoteService remote_service;

  BlockListeners block_listeners;

  // The pilot run's table, kept for -cv, -gof and -method joint (empty otherwise), and the
  // production run's parameter vectors kept for -gof's predictive check (none otherwise):
  // sized by the driver before the run, filled by the workers, read after it.
  ReferenceTable reference_table;
  PredictiveDraws predictive_draws;

  // The block schedule (begin_block_schedule). The hand-out, under mutex_counter:
  long long next_block = 0;
  // Production commits, under mutex_outfile (commit_turn is read under mutex_counter too):
  std::atomic<long long> commit_turn{0};  // the block whose turn it is to be committed
  std::vector<BlockLines> waiting_room;   // blocks delivered early, at block % size
  std::vector<char> waiting_ready;        // whether that slot holds its block
  std::condition_variable window_open;    // waited on under mutex_counter
};

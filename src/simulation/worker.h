// SPDX-License-Identifier: GPL-3.0-or-later
// The simulation worker: the body of every thread of a simulation run, and the pieces of
// one replicate, which tests and benchmarks run on their own.
//
// Model of one replicate (dominant markers, one band allele per locus):
//   Fis_p ~ U(0, 1), Fst_p ~ U(0, 1) for every population p, theta_p = 1/Fst_p - 1;
//   a = e^Z + 0.1 with Z ~ N(0, 1);
//   per locus the ancestral band-allele frequency P ~ Beta(a, a);
//   per population q ~ Beta(theta_p P, theta_p (1 - P))  (Balding-Nichols drift);
//   an individual shows the band unless it is homozygous for the null allele:
//   B = q^2 + 2q(1-q)(1-Fis) + Fis q(1-q), and k ~ Binomial(n, B)
//   with n the observed sample size of that population at the same locus.
// A locus that too few individuals show (or lack) is redrawn, as the observed data only
// hold loci that passed the same filter.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "observed_data.h"
#include "random/block_seed.h"
#include "random/mtrand.h"
#include "run_state.h"

// Everything one worker owns, allocated once when the thread starts and reused by every
// replicate, so that a replicate allocates nothing but the text of its accepted lines.
struct WorkerState {
  // The data set shares the record layout of the job's pop_target.
  explicit WorkerState(const Job& job);

  const Job& job;  // the observed data and the filter the replicates are measured against
  int npop;        // J
  int nloci;       // I: loci kept per data set
  int nc_fis;      // statistics per population
  int nc_fst;

  MTRand mt;

  // The simulated data set in the layout of pop_target. Slot m of every population block
  // holds the latest draw of locus m; a rejected draw is overwritten by its redraw, so the
  // slots 0 .. nloci-1 end up holding the kept loci in order, whatever the redraws.
  std::vector<LocusRecord> data;

  // Per population: the parameter draws and the two distances of the replicate.
  std::vector<double> fis, fst, theta, dist_fis, dist_fst;
  double a = 0.0;  // hyperparameter of the ancestral frequencies
  // Production run: rank of each acceptance of the replicate, 0 where not accepted.
  std::vector<int> rank_fis, rank_fst;

  // Loci drawn by the latest replicate, rejected draws included (at least nloci). Nothing
  // else is kept per draw: the hot loop only overwrites slots of `data`.
  long long drawn_loci = 0;

  // Per kept locus: its slot (0 .. nloci-1 in order) and totals over all populations.
  std::vector<int> kept, T0, T1;

  std::vector<double> stat_fis, stat_fst;  // npop * nc values each
  std::vector<double> scratch;             // sort space of the statistics

  // Production run: the accepted lines of the block being simulated.
  BlockLines block;
};

// Replicates per block: as many as it takes for the seeding of the block's generator (a few
// microseconds) to vanish beside the simulations, fewer for small pilot runs so that the
// workers still share them. A function of the job (data shape and pilot size) only, so
// that the blocks, hence the results, do not depend on the number of workers.
int choose_block_size(int nloci, int npop, long long pilot_size);

// Prepares the block schedule of `run` (the driver calls it before starting the workers,
// after setting pilot and nbreps).
// `first_block`: the block the run starts from (0, or where a resumed run goes on); in the
// production run the blocks before it count as committed.
void begin_block_schedule(Run& run, long long first_block = 0);

// The thread entry: takes whole blocks of replicates, seeds the generator of each from
// {job_seed, run, block} and simulates its replicates, until the run's end condition
// holds. Between blocks it serves the other processes of an MPI run, if any.
void run_worker(Run& run);

// Takes the next block of the run into `block`; false when the run has none left for this
// worker. In the production run it waits while the blocks waiting for their commit fill
// the waiting room, so that their memory stays bounded (serving the other processes of an
// MPI run meanwhile, whose block may be the one that makes room).
bool take_block(Run& run, long long& block);

// take_block without the wait, for a caller that must not block (the service of other
// processes): `no_room` while the waiting room is full.
enum class BlockOffer { taken, no_room, run_over };
BlockOffer try_take_block(Run& run, long long& block);

// Pilot run: stores the distances of replicate r (other per-replicate results of the pilot
// belong here too, stored by replicate index like the distances).
void record_pilot_replicate(Run& run, const WorkerState& w, long long r);

// An ancestral frequency of exactly 1 would make the second Beta parameter of every
// population 0; it becomes the largest double below 1.
double draw_ancestral_frequency(MTRand& mt, double a);

// Probability that an individual shows the band, clamped into [0, 1] so that rounding can
// never hand the binomial a probability just above 1.
double band_probability(double q, double fis);

// One replicate up to its distances: parameter draws, loci with the filter and its
// redraws, statistics and the distance of every population to target_fis / target_fst.
void simulate_replicate(WorkerState& w);

// The loci of one data set from the parameters already in `w` (fis, fst, a; theta is
// derived here): every locus drawn, filtered and redrawn until nloci are kept. Tests run
// it at chosen parameters to check the simulated band counts against the model's law.
void simulate_loci(WorkerState& w);

// Production run: appends to w.block the accepted lines of the replicate just simulated,
// at `offset` in its block, those within the run's thresholds. Nothing is counted yet:
// acceptances count when the block is committed.
void collect_acceptances(const Run& run, WorkerState& w, int offset);

// Simulates block `block` of the run in `w`, as every worker does, local or on another MPI
// rank: seeds the generator from the job's seed, the run's stream and the block's number,
// then simulates the block's replicates in order. Pilot run: `before(r)` and `after(r)` come
// around each replicate r (its distances are in `w` for `after`). Production run: the
// acceptances are collected into w.block, replicate by replicate until the run is finished.
template <typename Before, typename After>
void simulate_block(const Run& run, WorkerState& w, long long block, Before before, After after) {
  const long long first = block * run.block_size;
  const long long end =
      run.pilot ? std::min<long long>(first + run.block_size, run.nbreps) : first + run.block_size;
  seed_block_generator(w.mt, run.job_seed, run.pilot ? run.pilot_stream : STREAM_PRODUCTION,
                       static_cast<uint32_t>(block));
  if (run.pilot) {
    for (long long r = first; r < end; ++r) {
      before(r);
      simulate_replicate(w);
      after(r);
    }
  } else {
    w.block.clear(block);
    for (long long r = first; r < end && !run.finished.load(std::memory_order_relaxed); ++r) {
      simulate_replicate(w);
      collect_acceptances(run, w, static_cast<int>(r - first));
    }
  }
}

// The block loop of every worker, local or on another MPI rank, whose two seams are where its
// blocks come from and where their results go: it takes blocks from `source` until that
// has none left and simulates each in `w` as simulate_block does, telling `sink`:
//   source.next(block)            -> false when the run has no block left for this worker
//   sink.begin_block(w, block)    before the block's first replicate
//   sink.begin_replicate(r)       pilot run: before replicate r
//   sink.end_replicate(w, r)      pilot run: after replicate r, its distances in w
//   sink.end_block(w, block)      after the block (production: its lines in w.block)
// The local workers take blocks from the run's schedule and commit them into the run; the
// other ranks of an MPI run receive them from rank 0 and send their results back.
template <typename Source, typename Sink>
void run_blocks(const Run& run, WorkerState& w, Source& source, Sink& sink) {
  long long block = 0;
  while (source.next(block)) {
    sink.begin_block(w, block);
    simulate_block(
        run, w, block, [&sink](long long r) { sink.begin_replicate(r); },
        [&sink, &w](long long r) { sink.end_replicate(w, r); });
    sink.end_block(w, block);
  }
}

// Pilot run: prints the next percentage of the progress gauge, if any. `shown` is the
// calling worker's memory of the last percentage printed.
void update_gauge(Run& run, int& shown);

// Production run: hands a simulated block over for its commit. Blocks are committed in
// index order, whichever worker simulated them: their acceptances are counted, the lines
// of rank <= nb_final appended to the accepted-draw files and the stop condition tested,
// block after block. A block that arrives before its turn waits; the worker that delivers
// the block whose turn it is commits it and every waiting block that follows. `block` is
// left empty for reuse.
void commit_block(Run& run, BlockLines& block);

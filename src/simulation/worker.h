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

#include <sstream>
#include <vector>

#include "observed_data.h"
#include "random/mtrand.h"

// Everything one worker owns, allocated once when the thread starts and reused by every
// replicate, so that a replicate allocates nothing but the text of its accepted lines.
struct WorkerState {
  WorkerState(int npop, int nloci, int nc_fis, int nc_fst);

  int npop;    // J
  int nloci;   // I: loci kept per data set
  int nc_fis;  // statistics per population
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

  // Accepted lines waiting for the file lock, one buffer per population. The buffers live
  // as long as the worker and keep their stream settings when emptied.
  std::vector<std::ostringstream> lines_fis, lines_fst;
  bool lines_pending = false;
  int deferrals = 0;  // busy attempts in a row at the file lock
};

// The thread entry: seeds the worker's generator under mutex_randseed and simulates until
// the run's end condition holds. The argument is unused; returns null.
void* start(void* arg);

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

// Production run: counts the acceptances of the replicate (ranks under mutex_counter),
// sets `finished`, and formats the accepted lines of rank <= nb_final into the buffers.
void judge_replicate(WorkerState& w);

// Hands the buffered lines to the accepted-draw files: tries the file lock, keeps the
// lines after a busy try, and waits only after 21 busy tries in a row (or when `wait`).
void hand_over_lines(WorkerState& w, bool wait);

// Prints the next percentage of the progress gauge, if any.
void update_gauge();

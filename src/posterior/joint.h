// SPDX-License-Identifier: GPL-3.0-or-later
// Estimation from the joint statistics of a population (-method joint).
//
// The default method estimates Fis from the band-frequency quantiles alone and Fst from the
// deviation quantiles alone. Yet each set carries information on the other parameter, and
// the other populations of a data set tell how much of a population's statistics comes
// from the shared ancestral frequencies. Here every parameter of population j is estimated
// from all of its statistics and the mean of the same statistics over the other
// populations, on one reference table of simulations from the prior:
// - features of population i in table row r: its nfis + nfst statistics, then (with more
//   than one population) the mean of the same statistics over the other populations of
//   row r; each divided by its spread over the training rows (the MAD, scaled to estimate
//   a standard deviation; the standard deviation where the MAD is 0); a constant feature
//   is dropped;
// - training rows of population j: the rows of every population whose per-locus sample
//   sizes equal j's (the populations are exchangeable under the prior, so one simulated
//   data set of J equal populations gives J rows);
// - the nearest `ar` fraction of the training rows by Euclidean distance on the scaled
//   features, weighted by the program's kernel with the next row's distance as threshold,
//   and adjusted by the weighted local-linear logit regression on the scaled features, each
//   draw carrying its leave-one-out residual (RegressionDesign::leave_one_out_residuals):
//   a fit of up to 81 coefficients on a thousand draws leaves in-sample residuals too
//   small for the intervals to hold the truth as often as they claim.
#pragma once

#include <string>
#include <vector>

#include "job.h"
#include "posterior/cv_results.h"
#include "posterior/goodness_of_fit.h"
#include "posterior/posterior_samples.h"
#include "reference_table.h"

// The populations that share their training rows, and those rows' scaled features.
struct JointPool {
  std::vector<int> populations;  // ascending
  std::vector<double> scale;     // per feature; 0 for a dropped (constant) feature
  std::vector<int> kept;         // the features with a scale, ascending
  // Training row m * table_size + r is population populations[m] in table row r: its
  // kept.size() scaled features, row-major, in single precision (as the table).
  std::vector<float> rows;
  long long count = 0;  // training rows: populations.size() * table_size
  const float* row(long long i) const { return rows.data() + static_cast<size_t>(i) * kept.size(); }
};

// The features of a job's reference table: built once after the table is simulated, read by
// the estimation of the observed data and by the cross-validation, and freed with the table
// at the end of the job. Other checks on the same table (a goodness-of-fit test) can read,
// in between, the training rows of a population (pools[pool_of[p]]) beside its observed
// features (observed[p]).
struct JointFeatures {
  long long table_size = 0;
  int npop = 0;
  int nstats = 0;                  // statistics per population: nfis + nfst
  int nfeatures = 0;               // nstats, or 2 * nstats with more than one population
  std::vector<std::string> names;  // "fis1" .. "fst<nfst>", then "others_fis1" ..
  std::vector<int> pool_of;        // per population, its pool
  std::vector<JointPool> pools;
  // Per population: the observed data's features, scaled by its pool and kept alike.
  std::vector<std::vector<float>> observed;
  const JointPool& pool(int p) const { return pools[pool_of[p]]; }
};

// Bytes of the features that prepare_joint_features keeps for a table of `size` rows, with
// the scratch of the estimation on `threads` threads (for the memory check).
double joint_feature_bytes(long long size, int npop, int nc_fis, int nc_fst, int threads);

// Groups the populations of the observed data by their per-locus sample sizes: pool_of[p]
// is the pool of population p, pools numbered in order of their first population.
std::vector<int> pools_by_sample_sizes(const Job& job);

// The features of `table` and of the observed statistics (target_fis, target_fst).
JointFeatures prepare_joint_features(const Job& job, const ReferenceTable& table);

// The draws per population and parameter: the `ar` fraction of the smallest pool's training
// rows, the same for every population so that the posterior sample files stay rectangular.
long long joint_sample_size(const JointFeatures& f, double acceptance_ratio);

// Estimates every population of the observed data from the features `f` of the table:
// returns the designs and samples (of `sample_size` draws) as the regression adjustment
// does, and with -keep writes the accepted-draw files (distance, parameter, the scaled
// feature differences). Prints its progress.
PosteriorSamples estimate_joint(const Job& job, const ReferenceTable& table, const JointFeatures& f,
                                long long sample_size);

// Estimates every population of the table rows `pods` from the training rows of the other
// table rows, with samples of `sample_size` draws, on `threads` threads: the estimates of
// cross_validate (pod-major, Fis1 .. FisJ, Fst1 .. FstJ), for the joint method, from the
// features `f` built from `table`.
std::vector<CvEstimate> joint_cross_validate(const ReferenceTable& table, const JointFeatures& f,
                                             const std::vector<long long>& pods,
                                             long long sample_size, double coverage, int threads);

// The cross-validation of -method joint: cv_count rows of the table, each estimated as
// the observed data from the training rows of the other table rows; writes and prints as
// run_cross_validation does, with the stream of the job's seed `job_seed`.
std::vector<CvSummaryRow> run_joint_cross_validation(const Job& job, const ReferenceTable& table,
                                                     const JointFeatures& features,
                                                     long long sample_size, uint32_t job_seed);

// The statistic sets of the goodness-of-fit test (-gof) under -method joint: per population,
// its pool's training rows and its observed features, once restricted to the Fis-type
// features (its own and the others' band-frequency quantiles) and once to the Fst-type
// ones, so that the test reports a Fis and a Fst row per population as under the default
// method. The sets point into `f`, which must outlive them.
std::vector<GofSet> joint_gof_sets(const Job& job, const JointFeatures& f);

// The lines of the run record that describe the estimation (table, features, pools).
std::vector<std::string> joint_record_lines(const Job& job, const JointFeatures& f,
                                            long long sample_size);

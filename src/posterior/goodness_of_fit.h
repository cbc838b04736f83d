// SPDX-License-Identifier: GPL-3.0-or-later
// Goodness of fit of the model (-gof): does the model produce data like the observed ones?
//
// Per population and statistic set, D is the mean distance from the observed statistics to
// their nearest simulations of the reference table (as many as the rejection step accepts).
// The null distribution of D comes from data sets simulated by the model itself: rows of the
// table, each left out of it in turn and measured the same way. The p-value is the share of
// them at least as far from the rest as the observed data, (1 + #{null D >= D}) / (N + 1)
// (the observed data counted as one of the N + 1, so that p is never 0 and is uniform under
// the model). A posterior predictive check of statistics that the estimation never uses
// comes with it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "job.h"
#include "posterior/gof_results.h"
#include "predictive_draws.h"
#include "reference_table.h"

// One statistic set of the test, whatever the estimation method that made it: a reference
// table of simulations (rows x features), the observed point, and the method's distance.
struct GofSet {
  std::string label;  // the row's name in STEM_gof.txt
  int population = 0;
  bool fst = false;
  long long rows = 0;
  int features = 0;
  const float* reference = nullptr;  // row r at reference + r * features
  // Pooled rows (-method joint): row m * data_sets + r is member m of the pool in simulated
  // data set r, and the rows of one data set leave the table together, since the members
  // share their ancestral frequencies and each other's means. 0: every row is a data set.
  long long data_sets = 0;
  // Null data set r of this set's population is row null_offset + r.
  long long null_offset = 0;
  std::vector<double> observed;  // `features` values
  // Squared distance between a row and a point; empty: the rejection step's sum of squared
  // differences.
  std::function<double(const float* row, const double* point)> squared_distance;

  const float* row(long long r) const { return reference + static_cast<size_t>(r) * features; }
};

// The set of parameter 0 (Fis) or 1 (Fst) of population p (from 0), named as its row of
// STEM_gof.txt ("Fis1", ...), the rest to be filled by the method.
GofSet gof_set_of(int parameter, int p);

// The sets of the rejection method: the Fis statistics of every population, then the Fst
// statistics, from the pilot run's table and the observed statistics.
std::vector<GofSet> rejection_gof_sets(const ReferenceTable& table,
                                       const std::vector<double>& observed_fis,
                                       const std::vector<double>& observed_fst);

// D of `point`: the mean of the distances (square roots of the squared distances) to its
// `nearest` nearest rows, row `left_out` and the other rows of its data set excluded (-1:
// none). NaN distances count as the
// farthest. `scratch` is reused between calls.
double mean_nearest_distance(const GofSet& set, const double* point, long long left_out,
                             long long nearest, std::vector<double>& scratch);

// The test of every set: D of the observed data and of every row of `null_rows`, each left
// out of its set, on `threads` threads; the result does not depend on their number.
std::vector<GofResult> goodness_of_fit(const std::vector<GofSet>& sets,
                                       const std::vector<long long>& null_rows, long long nearest,
                                       int threads);

// (1 + #{null >= observed}) / (N + 1).
double gof_p_value(double observed, const std::vector<double>& null);

// The quantile at `prob` of `values`, interpolated linearly between the order statistics at
// positions prob * (n - 1); NaN for no values.
double sample_quantile(std::vector<double> values, double prob);

// Levels at which a test fails (documented in docs/goodness-of-fit.md).
constexpr double GOF_LEVEL = 0.05;
constexpr double PPC_LEVEL = 0.05;

// The sentence printed for one set, e.g. "Population 7 (Fst statistics): the data lie
// farther from the simulations than 99% of the data sets simulated by the model
// (p = 0.0099). The model does not describe this population; ...".
std::string gof_verdict(const GofResult& r);

// The warning for a population whose sets in `failed` fail the test; names `gof_file`.
std::string gof_warning(int population, const std::vector<const GofResult*>& failed,
                        const std::string& gof_file);

// One row of the posterior predictive check: statistic s of population p, observed and
// replicated.
struct PpcRow {
  int population = 0;  // from 0
  int statistic = 0;   // index into PPC_STATISTIC_NAMES
  double observed = 0;
  double predictive_mean = 0;
  double predictive_low = 0;  // 2.5% and 97.5% quantiles of the replicated values
  double predictive_high = 0;
  double p_value = 0;  // two-sided
};

// Two-sided predictive p-value: min(1, 2 min(1 + #{rep >= obs}, 1 + #{rep <= obs}) / (M + 1))
// over the M replicated values that are numbers; NaN without them or for a NaN observation.
double predictive_p_value(double observed, const std::vector<double>& replicated);

// Rows of every population and statistic from the replicated statistics ([p][i * S + s]) and
// the observed ones ([p * S + s]), S = PPC_STATISTICS.
std::vector<PpcRow> compare_predictive(const std::vector<std::vector<double>>& replicated,
                                       const std::vector<double>& observed);

// The reference rows of `sets` (one table: the same rows), their features side by side,
// standardised, projected on their first two principal components (power iteration on up to
// 1000 evenly spaced rows); `points` of those rows are kept for the figure.
GofProjection principal_projection(const std::vector<const GofSet*>& sets, const std::string& title,
                                   int points);

// The test of the current job after its posterior analysis (and the cross-validation): the
// null sets chosen by the stream of the job's seed `job_seed`, estimation samples of `nearest`
// rows; writes STEM_gof.txt, STEM_gof_null.txt, STEM_ppc.txt (and STEM_gof.svg with -plot), prints
// the summary and warns on standard error for every population that fails.
void run_goodness_of_fit(const Job& job, const ReferenceTable& reference_table,
                         const PredictiveDraws& predictive_draws, long long nearest,
                         uint32_t job_seed);

// The same test on the sets of another estimation method (-method joint), which keeps no
// parameter vectors of accepted replicates: without the posterior predictive check (no
// STEM_ppc.txt), and said so in the summary.
void run_goodness_of_fit(const Job& job, const ReferenceTable& reference_table,
                         const std::vector<GofSet>& sets, long long nearest, uint32_t job_seed);

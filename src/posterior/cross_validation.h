// SPDX-License-Identifier: GPL-3.0-or-later
// Cross-validation of the estimation (-cv): pseudo-observed data sets drawn from the
// reference table (the pilot run's replicates, whose parameters are known) are estimated
// the way the observed data are, each left out of the table, and the estimates are compared
// with the truth.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "job.h"
#include "posterior/cv_results.h"
#include "posterior/regression.h"
#include "reference_table.h"

// Bytes of the reference table of a pilot run of `size` replicates.
double reference_table_bytes(long long size, int npop, int nc_fis, int nc_fst);

// The memory the reference table may take: the machine's physical memory less a quarter
// (the pilot distances, the accepted draws and the system need the rest).
double reference_table_memory_limit();

// Allocates `table` for `size` replicates of the current job (a pilot run with -cv or -gof,
// the simulations of -method joint), or ends the run with a message giving the figure when
// the table and `extra_bytes` (what is computed from the table) would exceed `memory_limit`
// bytes, or the table cannot be allocated.
void prepare_reference_table(const Job& job, ReferenceTable& table, long long size,
                             double memory_limit, double extra_bytes = 0.0);

// The rows of `count` distinct pseudo-observed data sets among `table_size`, in the order
// they are drawn from the job's cross-validation stream (seeded from `seed`).
std::vector<long long> choose_pseudo_observed(long long table_size, int count, uint32_t seed);

// `count` distinct rows among `table_size`, each equally likely, drawn from stream `stream`
// of the job seeded by `seed` (the first steps of a Fisher-Yates shuffle).
std::vector<long long> choose_table_rows(long long table_size, int count, uint32_t seed,
                                         uint32_t stream);

// Estimates every pseudo-observed set `pods` (table rows) from the other rows of `table`:
// for each population and parameter, the `sample_size` nearest rows by the distance of the
// population's statistics, the regression adjustment and the posterior mean and HPDI of
// coverage `coverage`. Runs on `threads` threads; the result (pod-major, then parameter) does
// not depend on their number.
std::vector<CvEstimate> cross_validate(const ReferenceTable& table,
                                       const std::vector<long long>& pods, long long sample_size,
                                       double coverage, int threads);

// Runs `estimate_pod(i, rows)` for every pseudo-observed set i < nb_pods on `threads`
// threads, with a progress gauge; rows points to the 2J estimates of set i (Fis1 .. FisJ,
// Fst1 .. FstJ), whose pod and parameter are already set. The result is pod-major.
std::vector<CvEstimate> estimate_pods(int nb_pods, int npop, int threads,
                                      const std::function<void(int, CvEstimate*)>& estimate_pod);

// The sum over c < n of (x[c] - y[c])^2, in double: the distance of the rejection step.
double squared_distance(const float* x, const float* y, int n);

// The `count` entries of `order` (indices into `distance`) with the smallest distances
// moved to its front in ascending index order, NaN distances last and ties broken by index;
// returns the distance of the next nearest entry, the kernel's threshold. `order` must hold
// more than `count` entries.
double select_nearest(const std::vector<double>& distance, std::vector<long long>& order,
                      long long count);

// Scratch of score_estimate, reused from estimate to estimate.
struct EstimateScratch {
  std::vector<float> adjusted;
  std::vector<double> slopes;
};

// Fills the figures of `e` from one pseudo-observed estimation: the truth, the mean and
// HPDI of the unadjusted sample (sorted in place) and, after fitting `design`, of the
// adjusted one (NaN when the fit fails). Every figure is kept as written in the file.
void score_estimate(double truth, const RegressionDesign& design, std::vector<float>& unadjusted,
                    double coverage, EstimateScratch& scratch, CvEstimate& e);

// The 2J per-parameter rows, then Fis and Fst pooled over populations. Prediction error:
// sum (estimate - true)^2 / sum (true - mean true)^2, i.e. divided by N var(true) with the
// variance over the N values; coverage: the share of true values inside the HPDI. Estimates
// that are NaN (failed regressions) are left out of the figures they would enter; a figure
// without values, or with no spread in the truth, is NaN.
std::vector<CvSummaryRow> summarise_cross_validation(const std::vector<CvEstimate>& estimates,
                                                     int npop);

// The sentence printed for a pooled parameter, e.g. "Fst: prediction error 0.12; the 95%
// HPDI holds 93% of the true values: well estimated by these data".
std::string cv_verdict(const CvSummaryRow& row, double coverage);

// Thresholds of the verdict on the prediction error (documented in the README).
constexpr double CV_WELL_ESTIMATED = 0.3;  // at most this: well estimated
constexpr double CV_SAYS_LITTLE = 0.6;     // above this: the data say little
// An HPDI whose coverage falls this far below the nominal one is said to be too narrow.
constexpr double CV_COVERAGE_SHORTFALL = 0.1;

// The cross-validation of the current job after its posterior analysis: chooses cv_count
// pseudo-observed sets of the pilot run's `reference_table` with the stream of the job's
// seed `job_seed`, estimates them with samples of `sample_size`, writes STEM_cv.txt and
// STEM_cv_summary.txt (and STEM_cv.svg with -plot) and prints the summary, which it returns.
std::vector<CvSummaryRow> run_cross_validation(const Job& job,
                                               const ReferenceTable& reference_table,
                                               long long sample_size, uint32_t job_seed);

// Writes STEM_cv.txt, STEM_cv_summary.txt (and STEM_cv.svg with -plot) from the estimates of
// a cross-validation begun at `start`, and prints its verdicts and time. Returns the
// summary's rows.
std::vector<CvSummaryRow> report_cross_validation(const Job& job,
                                                  const std::vector<CvEstimate>& estimates,
                                                  std::time_t start);

// SPDX-License-Identifier: GPL-3.0-or-later
// Posterior diagnostics: how far the adjusted estimates can be trusted.
#pragma once

#include <string>
#include <vector>

#include "posterior/regression.h"

// Refits per population and parameter: enough for the Monte Carlo error to be known within
// about 7% (the relative standard error of a standard deviation from B values is
// 1/sqrt(2(B - 1))), at a cost of B small fits.
constexpr int DIAGNOSTICS_RESAMPLES = 100;
// Row r of the diagnostics file (0 = Fis1) resamples with a generator seeded with this + r,
// so that a rerun on the same accepted draws gives the same file.
constexpr unsigned long DIAGNOSTICS_SEED = 20021202UL;

// The diagnostics of one population and parameter.
struct DiagnosticsRow {
  std::string label;               // "Fis1", ..., "Fst1", ...
  double mean_adjusted = 0;        // posterior mean of the adjusted sample
  double mean_unadjusted = 0;      // posterior mean of the accepted values
  double sd_adjusted = 0;          // posterior standard deviation of the adjusted sample
  double mc_error_adjusted = 0;    // sd of the adjusted mean over the resamples (NaN: no refit)
  double mc_error_unadjusted = 0;  // sd of the unadjusted mean over the resamples
  double ess = 0;                  // (sum w)^2 / sum w^2 (NaN when every weight is 0)
  int extrapolated = 0;            // statistics whose observed value is outside the draws' range
  double share_at_bounds = 0;      // share of adjusted values exactly 0 or 1
};

// Work space of the refits by the normal equations, for p statistics.
struct NormalEquations {
  explicit NormalEquations(int p);
  std::unique_ptr<gsl_matrix, decltype(&gsl_matrix_free)> a;
  std::unique_ptr<gsl_vector, decltype(&gsl_vector_free)> b;
  std::unique_ptr<gsl_vector, decltype(&gsl_vector_free)> work;
  std::vector<double> mean, scale;
  std::vector<float> lo, hi;
  std::vector<int> rows;  // rows of positive weight in the current resample
  std::vector<int> kept;  // statistics in the fit
};

// The slopes of the weighted fit in which draw i counts counts[i] times (a resample with
// replacement), by the normal equations of the centred statistics: some twenty times
// faster than the full decomposition for 5000 draws and 25 statistics. Leaves out the same
// statistics as fit_slopes. Returns false, leaving the fit to fit_slopes, when no draw
// carries weight or the system is too ill-conditioned to solve this way.
bool fit_slopes_by_normal_equations(const RegressionDesign& design, const std::vector<int>& counts,
                                    NormalEquations& ne, std::vector<double>& slopes);

// The Monte Carlo errors of the adjusted and unadjusted posterior means: the standard
// deviations of the means over DIAGNOSTICS_RESAMPLES resamples with replacement, each
// refitted (NaN with fewer than two successful refits). The resamples come from a generator
// seeded with `seed`.
struct BootstrapErrors {
  double adjusted = 0;
  double unadjusted = 0;
};
BootstrapErrors bootstrap_mc_errors(const RegressionDesign& design, const std::vector<float>& noreg,
                                    unsigned long seed);

// Computes the row of one population and parameter from its kept design and samples.
DiagnosticsRow diagnose(const std::string& label, const RegressionDesign& design,
                        const std::vector<float>& reg, const std::vector<float>& noreg,
                        unsigned long seed);

// True when the row passes every check: Monte Carlo error at most a quarter of the
// posterior sd, no adjusted value at 0 or 1, no extrapolation.
bool row_trusted(const DiagnosticsRow& row);

// The warning for a row whose adjusted estimate is not to be trusted, without line end;
// empty when the row passes. `no_regression_file` is named as the fallback.
std::string diagnostics_warning(const char* parameter, int population, const DiagnosticsRow& row,
                                const std::string& no_regression_file);

// Writes odir + file_prefix + "_diagnostics.txt" (after the regression, whose designs it
// refits) and then warns on standard error for every population and parameter whose
// adjusted estimate is not to be trusted.
void write_diagnostics();

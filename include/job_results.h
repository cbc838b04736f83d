// SPDX-License-Identifier: GPL-3.0-or-later
// What a job gives back to its caller besides its files: the posterior summaries, the
// diagnostics and the cross-validation's summary, the values the files hold.
#pragma once

#include <string>
#include <vector>

// The posterior summary of one population's parameter, as in the statistics file.
struct ParameterEstimate {
  std::string label;  // "Fis1" .. "FisJ", "Fst1" .. "FstJ"
  double mean = 0;
  double mode = 0;
  double variance = 0;
  double hpdi_low = 0;  // the HPDI of the job's coverage (hpdi_pc)
  double hpdi_high = 0;
};

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

// One row of the summary: prediction errors and coverages of one parameter or pooled.
struct CvSummaryRow {
  std::string label;  // "Fis1" .. "FstJ", "Fis", "Fst"
  double prediction_error_adjusted = 0;
  double prediction_error_unadjusted = 0;
  double coverage_adjusted = 0;
  double coverage_unadjusted = 0;
};

struct JobResults {
  std::vector<ParameterEstimate> estimates;    // Fis1 .. FisJ, then Fst1 .. FstJ
  std::vector<DiagnosticsRow> diagnostics;     // the rows of the diagnostics file
  std::vector<CvSummaryRow> cross_validation;  // the cv summary's rows (empty without -cv)
  std::vector<std::string> files;              // every file the job left, by name
};

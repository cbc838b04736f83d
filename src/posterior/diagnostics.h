// SPDX-License-Identifier: GPL-3.0-or-later
// Posterior diagnostics: how far the adjusted estimates can be trusted. One row per
// population and parameter (diagnostics.cpp); its refits are in bootstrap.h and
// normal_equations.h, its warnings in diagnostics_warning.h, its file in diagnostics_file.h.
#pragma once

#include <string>
#include <vector>

#include "posterior/regression.h"

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

// Computes the row of one population and parameter from its kept design and samples.
DiagnosticsRow diagnose(const std::string& label, const RegressionDesign& design,
                        const std::vector<float>& reg, const std::vector<float>& noreg,
                        unsigned long seed);

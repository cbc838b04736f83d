// SPDX-License-Identifier: GPL-3.0-or-later
// The Monte Carlo errors of the posterior means, by resampling the accepted draws and
// refitting (bootstrap.cpp).
#pragma once

#include <vector>

#include "posterior/regression.h"

// Refits per population and parameter: enough for the Monte Carlo error to be known within
// about 7% (the relative standard error of a standard deviation from B values is
// 1/sqrt(2(B - 1))), at a cost of B small fits.
constexpr int DIAGNOSTICS_RESAMPLES = 100;

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

// SPDX-License-Identifier: GPL-3.0-or-later
// The posterior of a job: what the estimation (the regression adjustment of the accepted
// draws, or -method joint) returns and every writer of the job's outputs takes. A value of
// the job, handed from step to step; index [population - 1][draw], draws in file order.
#pragma once

#include <vector>

#include "posterior/regression.h"

struct PosteriorSamples {
  // The fit of each population and parameter, kept for the diagnostics.
  std::vector<RegressionDesign> design_fis;
  std::vector<RegressionDesign> design_fst;
  std::vector<std::vector<float>> reg_fis;    // regression-adjusted Fis
  std::vector<std::vector<float>> reg_fst;    // regression-adjusted Fst
  std::vector<std::vector<float>> noreg_fis;  // accepted Fis as read
  std::vector<std::vector<float>> noreg_fst;  // accepted Fst as read

  // Sized for `npop` populations, every design and sample empty.
  explicit PosteriorSamples(int npop = 0)
      : design_fis(npop),
        design_fst(npop),
        reg_fis(npop),
        reg_fst(npop),
        noreg_fis(npop),
        noreg_fst(npop) {}
};

// SPDX-License-Identifier: GPL-3.0-or-later
// The Monte Carlo error of the posterior means by the nonparametric bootstrap (Efron and
// Tibshirani, An Introduction to the Bootstrap, 1993, ch. 6): the accepted draws are
// resampled with replacement, the weighted regression is refitted on each resample, and the
// standard deviation of the resampled means is the spread a rerun would show.
#include "posterior/bootstrap.h"

#include <gsl/gsl_errno.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "posterior/normal_equations.h"
#include "posterior/posterior_stats.h"
#include "random/mtrand.h"

namespace {

// Draws n row indices with replacement into `rows` and their multiplicities into `counts`.
void draw_resample(MTRand& rng, int n, std::vector<int>& rows, std::vector<int>& counts) {
  // randExc() is in [0, 1), so the index stays below n; its bias is below 2^-32 * n.
  std::fill(counts.begin(), counts.end(), 0);
  for (int i = 0; i < n; ++i) {
    rows[i] = static_cast<int>(rng.randExc() * n);
    ++counts[rows[i]];
  }
}

double sd_of(const std::vector<double>& values) {
  return std::sqrt(sample_moments(values.data(), nullptr, values.size()).variance);
}

}  // namespace

BootstrapErrors bootstrap_mc_errors(const RegressionDesign& design, const std::vector<float>& noreg,
                                    unsigned long seed) {
  const int n = design.n;
  const int p = design.p;
  MTRand rng;
  rng.seed(seed);
  NormalEquations ne(p);
  std::unique_ptr<FitWorkspace> ws;  // only for resamples the normal equations refuse
  std::vector<int> rows(n), counts(n);
  std::vector<double> slopes, means, means_noreg;
  std::vector<float> adjusted(n);
  means.reserve(DIAGNOSTICS_RESAMPLES);
  means_noreg.reserve(DIAGNOSTICS_RESAMPLES);
  for (int b = 0; b < DIAGNOSTICS_RESAMPLES; ++b) {
    draw_resample(rng, n, rows, counts);
    means_noreg.push_back(sample_moments(noreg.data(), counts.data(), n).mean);
    // A resample is the same weighted fit with each weight times the draw's multiplicity.
    if (!fit_slopes_by_normal_equations(design, counts, ne, slopes)) {
      if (!ws) ws.reset(new FitWorkspace(n, p));
      // A resample can fail to fit (every drawn weight 0); it then adds no adjusted mean.
      if (fit_slopes(design, rows.data(), *ws, slopes) != GSL_SUCCESS) continue;
    }
    // The draws move by their in-sample residuals, also for a design of -method joint,
    // whose sample carries leave-one-out residuals: the spread of the resampled means is
    // what is measured here, and the refits by the normal equations have no leverages.
    for (int i = 0; i < n; ++i) adjusted[i] = counts[i] > 0 ? adjusted_value(design, i, slopes) : 0;
    means.push_back(sample_moments(adjusted.data(), counts.data(), n).mean);
  }
  BootstrapErrors errors;
  errors.adjusted = sd_of(means);
  errors.unadjusted = sd_of(means_noreg);
  return errors;
}
